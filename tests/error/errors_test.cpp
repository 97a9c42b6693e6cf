// The exception family: the records that errors build, copies, publishing on the thread.
#include <gtest/gtest.h>
#include <comdef.h>
#include "error/error_record.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

// win32_error's constructor with a code is protected; the component only raises its subclass.
struct coded_error : win32_error {
    explicit coded_error(DWORD code) : win32_error("coded", code) {}
};

// An error as it publishes itself.
std::wstring describe(const loc_com_error& error)
{
    clear_thread_error();
    return outcome(error.report());
}

TEST(LocComError, RecordOfEachKindCopiedAndPublished)
{
    const auto session = make_error_record({.description = L"link down",
                                            .source = session_source,
                                            .interface_id = IID_IMessage,
                                            .help_file = session_help_file,
                                            .help_context = session_help_context});
    const struct {
        loc_com_error error;
        std::wstring expected;
        std::string what;
    } rows[] = {
        // hresult() is taken virtually: here the code rule of the base.
        {win32_com_error(coded_error(5), 1017, IID_IFormattedIO488),
         component_failure(static_cast<HRESULT>(0x80070005), L"coded", 1017), "coded"},
        // The interface is always the one given, never the record's.
        {loc_com_error(_com_error(link_down, session.Get(), true), IID_IFormattedIO488),
         error_line(link_down, L"link down", session_source, session_help_file, session_help_context,
                    IID_IFormattedIO488),
         "link down"},
        // A session's failure takes over the record that the session left on the thread.
        {[&] {
             SetErrorInfo(0, session.Get());
             try {
                 throw_session_error(link_down);
             } catch (const loc_com_error& error) {
                 return error;
             }
         }(),
         session_failure(), ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(describe(row.error), row.expected);
        EXPECT_EQ(row.error.what(), row.what);
        const loc_com_error copy(row.error);
        EXPECT_EQ(describe(copy), row.expected);
        EXPECT_EQ(outcome(row.error.report()), row.expected) << "the error keeps its record after publishing it";
    }
}

} // namespace
} // namespace morvane::testing
