// WriteString and ReadString through a bound object.
#include <gtest/gtest.h>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using FmtdioStrings = bound_fmtdio;

// Whole chunks go without END once more follows; the rest ends the message with exactly one
// line feed, END as the session's setting makes it.
TEST_F(FmtdioStrings, WritesEndTheMessageWithExactlyOneLineFeed)
{
    const std::wstring long_text = std::wstring(2000, L'w') + L"\u00e9";
    const struct {
        const char* name;
        std::vector<std::pair<std::wstring, bool>> texts; // text, flush-and-END
        lines trace;
        lines writes;
        VARIANT_BOOL send_end = VARIANT_TRUE;
    } rows[] = {
        // clang-format off
        {"query", {{L"*IDN?", true}}, {"write 6 end"}, {"*IDN?\n"}},
        {"query with its own line feed", {{L"*IDN?\n", true}}, {"write 6 end"}, {"*IDN?\n"}},
        {"two writes, one message", {{L"A", false}, {L"B", true}}, {"write 3 end"}, {"AB\n"}},
        {"a NUL ends the text", {{std::wstring(L"AB\0CD", 5), true}}, {"write 3 end"}, {"AB\n"}},
        {"ANSI code page", {{L"\u00e9\u20ac\u4e00", true}}, {"write 4 end"}, {"\xe9\x80?\n"}},
        {"chunks", {{L"ab", false}, {long_text, true}}, chunk(1000) + chunk(1000) + lines{"write 4 end"},
         {"ab" + std::string(998, 'w'), std::string(1000, 'w'), "ww\xe9\n"}},
        {"chunks, END off", {{long_text, true}}, {"get_send_end", "write 1000 noend", "get_send_end",
         "write 1000 noend", "write 2 noend"}, {std::string(1000, 'w'), std::string(1000, 'w'), "\xe9\n"},
         VARIANT_FALSE},
        {"chunks, END on as any true value", {{long_text, true}}, chunk(1000) + chunk(1000) + lines{"write 2 end"},
         {std::string(1000, 'w'), std::string(1000, 'w'), "\xe9\n"}, 0x7FFF},
        {"a full buffer waits", {{std::wstring(1000, L'w'), false}, {L"", true}}, {"write 1001 end"},
         {std::string(1000, 'w') + "\n"}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session fresh;
        fresh.set_send_end(row.send_end);
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        for (const auto& [text, end] : row.texts)
            EXPECT_EQ(write(text, end), S_OK);
        EXPECT_EQ(fresh.trace(), row.trace);
        EXPECT_EQ(fresh.writes(), row.writes);
        EXPECT_EQ(fresh.send_end(), row.send_end != VARIANT_FALSE);
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
    EXPECT_EQ(outcome(write(L"")),
              component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033));
}

// A failed read leaves the out argument null and the stream good; bytes above 0x7F come through
// the ANSI code page. How reads share out messages is tested with the other reads.
TEST_F(FmtdioStrings, ReadsOneWholeResponseAtATime)
{
    BSTR text = reinterpret_cast<BSTR>(0x1234);
    EXPECT_EQ(outcome(io->ReadString(&text)), session_failure(session_timed_out, session_timeout)); // nothing scripted
    EXPECT_EQ(text, nullptr);
    session.respond("\xe9\x80\n", {1});
    EXPECT_EQ(read(), L"\u00e9\u20ac\n");
}

// A failed intermediate chunk is dropped, so the requested END finds an empty buffer.
TEST_F(FmtdioStrings, FailedChunkThenEndReportsMessage115)
{
    session.fail(session_op::write, 1, E_ABORT, L"gone");
    EXPECT_EQ(outcome(write(std::wstring(1001, L'x'))),
              component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033));
    EXPECT_EQ(session.writes().size(), 1u);
}

} // namespace
} // namespace morvane::testing
