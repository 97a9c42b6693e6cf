// The exception family: HRESULT rules, the records that each error builds, copies, publishing
// on the thread and taking over a session's error information.
#include <gtest/gtest.h>
#include <comdef.h>
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

// win32_error's constructor with a code is protected; the component only raises its subclass.
struct coded_error : win32_error {
    explicit coded_error(DWORD code) : win32_error("coded", code) {}
};

// An error with a record as a session makes it.
loc_com_error session_error()
{
    return {std::wstring_view(L"link down"), session_help_context, session_help_file, session_source, IID_IMessage,
            link_down};
}

TEST(Win32Error, HresultOfCode)
{
    // Zero and negative codes unchanged, others as 0x8007 and their low 16 bits.
    const std::pair<DWORD, DWORD> rows[] = {{0, 0}, {5, 0x80070005}, {0x82345, 0x80072345}, {0x80040015, 0x80040015}};
    for (const auto& [code, hr] : rows)
        EXPECT_EQ(static_cast<DWORD>(coded_error(code).hresult()), hr) << code;
}

TEST(LocComError, RecordOfEachKindCopiedAndPublished)
{
    const loc_com_error session = session_error();
    const struct {
        const char* name;
        loc_com_error error;
        std::wstring expected;
        std::string what;
    } rows[] = {
        // hresult() is taken virtually: the subclass's HRESULT (elsewhere), or the code rule of the base.
        {"win32_error", win32_com_error(coded_error(5), 1017, IID_IFormattedIO488),
         component_failure(static_cast<HRESULT>(0x80070005), L"coded", 1017), "coded"},
        // The interface is always the one given, never the record's.
        {"_com_error with a record", loc_com_error(_com_error(link_down, session.error_info(), true), IID_IFormattedIO488),
         describe(link_down, loc_com_error(L"link down", session_help_context, session_help_file, session_source,
                                           IID_IFormattedIO488, link_down).error_info()), "link down"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(describe(row.error), row.expected);
        EXPECT_EQ(row.error.what(), row.what);
        const loc_com_error copy(row.error);
        EXPECT_NE(copy.error_info(), row.error.error_info()); // a record of its own
        EXPECT_EQ(describe(copy), row.expected);
        clear_thread_error();
        row.error.report();
        EXPECT_EQ(outcome(row.error.report()), row.expected) << "the error keeps its record after publishing it";
    }
}

TEST(ThrowSessionError, PassesTheSessionRecordThroughUnchanged)
{
    session_error().report();
    EXPECT_EQ(describe(caught([] { throw_session_error(link_down); })), session_failure());
    EXPECT_EQ(outcome(S_OK), L"0 without a record") << "taken from the thread";
    try {
        throw_session_error(link_down); // no record on the thread now
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_POINTER);
        EXPECT_EQ(error.ErrorInfo(), nullptr);
    }
}

} // namespace
} // namespace morvane::testing
