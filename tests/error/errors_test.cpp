// The exception family: the records that errors build, copies, publishing on the thread.
#include <gtest/gtest.h>
#include <comdef.h>
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

// win32_error's constructor with a code is protected; the component only raises its subclass.
struct coded_error : win32_error {
    explicit coded_error(DWORD code) : win32_error("coded", code) {}
};

TEST(LocComError, RecordOfEachKindCopiedAndPublished)
{
    const loc_com_error session(std::wstring_view(L"link down"), session_help_context, session_help_file,
                                session_source, IID_IMessage, link_down);
    const struct {
        loc_com_error error;
        std::wstring expected;
        std::string what;
    } rows[] = {
        // hresult() is taken virtually: here the code rule of the base.
        {win32_com_error(coded_error(5), 1017, IID_IFormattedIO488),
         component_failure(static_cast<HRESULT>(0x80070005), L"coded", 1017), "coded"},
        // The interface is always the one given, never the record's.
        {loc_com_error(_com_error(link_down, session.error_info(), true), IID_IFormattedIO488),
         error_line(link_down, L"link down", session_source, session_help_file, session_help_context,
                    IID_IFormattedIO488), "link down"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describe(row.error), row.expected);
        EXPECT_EQ(row.error.what(), row.what);
        const loc_com_error copy(row.error);
        EXPECT_NE(copy.error_info(), row.error.error_info()); // a record of its own
        EXPECT_EQ(describe(copy), row.expected);
        row.error.report();
        EXPECT_EQ(outcome(row.error.report()), row.expected) << "the error keeps its record after publishing it";
    }
}

} // namespace
} // namespace morvane::testing
