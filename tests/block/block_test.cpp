// ReadIEEEBlock: a read's session calls on every way out (WriteIEEEBlock: NumberTypes.ArgumentsAreCheckedInOrder).
#include <gtest/gtest.h>
#include "support/fmtdio_fixture.hpp"
#include "support/variant_values.hpp"

namespace morvane::testing {
namespace {

using Blocks = bound_fmtdio;

lines reads(std::initializer_list<long> counts)
{
    lines calls;
    for (long n : counts)
        calls.push_back("read " + std::to_string(n));
    return calls;
}

// The result and the session calls between switching the termination character off and back, on every way out;
// input that an earlier ReadString left is no part of the block, and flush-to-END drops it afterwards.
TEST_F(Blocks, ReadIEEEBlockTakesOneBlockFromTheSession)
{
    // A failing session call leaves its own record on the thread, and the block read keeps it.
    // clang-format off
    const std::wstring unexpected = describe(E_UNEXPECTED, nullptr) + L"; 0:", empty = L"0:",
                       link_lost = session_failure(L"link down", E_UNEXPECTED) + L"; 0:",
                       timed_out = session_failure(session_timed_out, E_UNEXPECTED) + L"; 0:",
                       ab = contents(*elements(VT_UI1, "ab")), twenty = contents(*elements(VT_UI1, pattern(20))),
                       no_block = component_failure(data_failure, L"No binary block was found in the input stream.",
                                                    1019) + L"; 0:",
                       short_read = component_failure(data_failure, L"The amount of data retrieved before the end of "
                                                      L"input was less than the specified size of the binary block.",
                                                      1020) + L"; 0:";
    const lines trailing = {"get_timeout", "put_timeout 100", "read 1", "put_timeout 2000"};
    const struct { const char* name; std::vector<std::string> messages; bool seek; std::wstring result;
                   lines calls; std::pair<session_op, int> failing{}; bool input_left = false, flush = false;
    } rows[] = {
        {"input ends before the mark", {"xy", ""}, true, no_block, reads({1, 1, 1})},
        {"no mark before the timeout", {"xy"}, true, timed_out, reads({1, 1, 1})},
        {"digit count no digit", {"#A1"}, false, unexpected, reads({1, 1})},
        {"no digit count", {"#", ""}, false, short_read, reads({1, 1})},
        {"length digits short", {"#312", ""}, false, short_read, reads({1, 1, 3})},
        {"data short", {"#14ab", ""}, false, short_read, reads({1, 1, 1, 4})},
        {"no byte after the data", {"#12ab"}, false, ab, reads({1, 1, 1, 2}) + trailing},
        {"a length digit ':' is 10", {"#21:" + pattern(20) + "\n"}, false, twenty, reads({1, 1, 2, 20}) + trailing},
        {"a length of 2^31 - 1", {"#9E47483647"}, false, timed_out, reads({1, 1, 9, 2147483647})},
        {"a length of 2^31", {"#9E47483648"}, false, short_read, reads({1, 1, 9})},
        {"a length of -1", {"#1/ab\n"}, false, empty, reads({1, 1, 1})},
        {"#0", {"#0ab\n"}, false, empty, reads({1, 1})},
        {"#10", {"#10\n"}, false, empty, reads({1, 1, 1})},
        {"data read fails", {"#14abcd\n"}, false, link_lost, reads({1, 1, 1, 4}), {session_op::read, 4}},
        {"byte after the data fails", {"#14abcd\n"}, false, link_lost, reads({1, 1, 1, 4}) + trailing,
         {session_op::read, 5}},
        {"input left, flush fails", {"#12ab\n", "rest\n"}, false, session_failure() + L"; " + ab,
         reads({1, 1, 1, 2}) + trailing + lines{"read_string 1000"}, {session_op::read_string, 1}, true, true}};
    // clang-format on
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        scripted_session fresh;
        ASSERT_EQ(io->putref_IO(&fresh), S_OK);
        if (row.input_left) {
            fresh.respond("abc", {3}, status_count_reached); // the message goes on after "abc"
            EXPECT_EQ(read(), L"abc");
        }
        const std::size_t before = fresh.calls().size();
        for (const std::string& message : row.messages)
            fresh.add_chunk(message, status_end);
        if (row.failing.second)
            fresh.fail(row.failing.first, row.failing.second, link_down, L"link down");
        unique_variant result;
        const HRESULT hr = io->ReadIEEEBlock(NumberType_UI1, truth(row.seek), truth(row.flush), result.get());
        EXPECT_EQ((FAILED(hr) ? outcome(hr) + L"; " : L"") + contents(*result), row.result); // the error, the result
        const lines trace = fresh.trace();
        EXPECT_EQ(lines(trace.begin() + before, trace.end()),
                  (lines{"get_termchar", "put_termchar 0"} + row.calls + lines{"put_termchar -1"}));
        ASSERT_EQ(io->putref_IO(&session), S_OK);
    }
}

} // namespace
} // namespace morvane::testing
