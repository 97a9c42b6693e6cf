// WriteString and ReadString through a bound object.
#include <gtest/gtest.h>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using FmtdioStrings = bound_fmtdio;

struct write_case {
    const char* name;
    std::vector<std::pair<std::wstring, bool>> texts; // text, flush-and-END
    std::vector<std::string> expected_writes;
};

TEST_F(FmtdioStrings, WritesEndTheMessageWithExactlyOneLineFeed)
{
    const write_case cases[] = {
        {"query", {{L"*IDN?", true}}, {"*IDN?\n"}},
        {"query with its own line feed", {{L"*IDN?\n", true}}, {"*IDN?\n"}},
        {"two writes, one message", {{L"A", false}, {L"B", true}}, {"AB\n"}},
        {"a NUL ends the text", {{std::wstring(L"AB\0CD", 5), true}}, {"AB\n"}},
        {"ANSI code page", {{L"\u00e9\u20ac", true}}, {"\xe9\x80\n"}},
        {"no END requested", {{L"A", false}}, {}},
    };
    for (const write_case& c : cases) {
        SCOPED_TRACE(c.name);
        scripted_session fresh;
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        for (const auto& [text, end] : c.texts)
            EXPECT_EQ(write(text, end), S_OK);
        EXPECT_EQ(fresh.writes(), c.expected_writes);
        for (const session_call& call : fresh.calls())
            EXPECT_NE(call.op, session_op::put_send_end) << "END suppressed for a final write";
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
}

TEST_F(FmtdioStrings, EndingAnEmptyMessageIsMessage115)
{
    EXPECT_EQ(write(L""), E_FAIL);
    const std::optional<error_record> record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->description, L"An attempt was made to send an END signal on an empty buffer.");
    EXPECT_EQ(record->help_context, 1033u);
    EXPECT_TRUE(session.calls().empty());
}

TEST_F(FmtdioStrings, ReadsOneWholeResponse)
{
    session.respond("hello\n");
    EXPECT_EQ(read(), L"hello\n");
    session.respond("first chunk, second chunk\n", {13});
    EXPECT_EQ(read(), L"first chunk, second chunk\n");
    session.respond("\xe9\x80\n");
    EXPECT_EQ(read(), L"\u00e9\u20ac\n");
    session.respond("", {}, status_termination_character);
    EXPECT_EQ(read(), L"");
    EXPECT_EQ(session.unread_chunks(), 0u);
}

// A session's failure reaches the client with the session's HRESULT and record unchanged,
// and the next call starts from a good stream.
TEST_F(FmtdioStrings, SessionErrorsPassThroughUnchanged)
{
    const HRESULT link_down = static_cast<HRESULT>(0xBFFF0011);
    session.fail(session_op::write, 1, link_down, L"The link went down.");
    EXPECT_EQ(write(L"*IDN?"), link_down);
    std::optional<error_record> record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->description, L"The link went down.");
    EXPECT_EQ(record->source, session_error_text::source);
    EXPECT_EQ(record->help_file, session_error_text::help_file);
    EXPECT_EQ(record->help_context, session_error_text::help_context);
    EXPECT_TRUE(IsEqualGUID(record->interface_id, IID_IMessage));

    EXPECT_EQ(write(L"*IDN?"), S_OK);
    EXPECT_EQ(session.writes().back(), "*IDN?\n");

    BSTR text = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(io->ReadString(&text), session_timeout); // nothing scripted
    EXPECT_EQ(text, nullptr);
    record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->source, session_error_text::source);
}

TEST_F(FmtdioStrings, SessionFailureWithoutRecordIsTheInternalError)
{
    session.fail(session_op::read, 1, E_ABORT);
    BSTR text = nullptr;
    EXPECT_EQ(io->ReadString(&text), E_UNEXPECTED);
    const std::optional<error_record> record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->description, L"An internal error occurred.  Please contact your I/O vendor.");
    EXPECT_EQ(record->source, L"Tellurix");
    EXPECT_EQ(record->help_context, 1011u);
}

// A failed intermediate chunk is dropped, so the requested END finds an empty buffer.
TEST_F(FmtdioStrings, FailedChunkThenEndReportsMessage115)
{
    session.fail(session_op::write, 1, E_ABORT, L"gone");
    EXPECT_EQ(write(std::wstring(1001, L'x')), E_FAIL);
    const std::optional<error_record> record = take_thread_error();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->help_context, 1033u);
    EXPECT_EQ(session.writes().size(), 1u);
}

} // namespace
} // namespace morvane::testing
