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
    } rows[] = {
        // clang-format off
        {"query with its own line feed", {{L"*IDN?\n", true}}, {"write 6 end"}, {"*IDN?\n"}},
        {"two writes, one message", {{L"A", false}, {L"B", true}}, {"write 3 end"}, {"AB\n"}},
        {"a NUL ends the text", {{std::wstring(L"AB\0CD", 5), true}}, {"write 3 end"}, {"AB\n"}},
        {"ANSI code page", {{L"\u00e9\u20ac\u4e00", true}}, {"write 4 end"}, {"\xe9\x80?\n"}},
        {"chunks", {{L"ab", false}, {long_text, true}}, chunk(1000) + chunk(1000) + lines{"write 4 end"},
         {"ab" + std::string(998, 'w'), std::string(1000, 'w'), "ww\xe9\n"}},
        {"a full buffer waits", {{std::wstring(1000, L'w'), false}, {L"", true}}, {"write 1001 end"},
         {std::string(1000, 'w') + "\n"}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session fresh;
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        for (const auto& [text, end] : row.texts)
            EXPECT_EQ(write(text, end), S_OK);
        EXPECT_EQ(fresh.trace(), row.trace);
        EXPECT_EQ(fresh.writes(), row.writes);
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

} // namespace
} // namespace morvane::testing
