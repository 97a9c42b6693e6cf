// FlushWrite, FlushRead and SetBufferSize through a bound object.
#include <gtest/gtest.h>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using FmtdioFlushing = bound_fmtdio;

TEST_F(FmtdioFlushing, SetBufferSize)
{
    const struct {
        long mask;
        long size;
        HRESULT expected;
        DWORD help_context; // 0: no record
    } rows[] = {
        {0x40, 100, E_INVALIDARG, 0},
        {0x40, -5, E_INVALIDARG, 1036}, // 120 whatever the mask
        {0x50, 16, S_OK, 0},            // other bits are ignored
        {0x20, 10, S_OK, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mask);
        const HRESULT hr = io->SetBufferSize(BufferMask(row.mask), row.size);
        EXPECT_EQ(outcome(hr), row.help_context
                                   ? component_failure(row.expected, L"The Buffer's size must be greater than zero.",
                                                       row.help_context)
                                   : describe(row.expected, nullptr));
    }
    const std::string response = "0123456789abcdefghijklmnopqrstuvwxyz,.:\n";
    session.respond(response, {16, 16});
    EXPECT_EQ(read(), std::wstring(response.begin(), response.end()));
    ASSERT_EQ(write(std::wstring(25, L'w')), S_OK);
    EXPECT_EQ(session.trace(), (lines{"read 16", "last_status", "read 16", "last_status", "read 16", "last_status"} +
                                chunk(10) + chunk(10) + lines{"write 6 end"}));
}

// Resizing the input first discards: when draining fails, the output side is left alone.
TEST_F(FmtdioFlushing, FailedInputResizeLeavesTheOutputAlone)
{
    read_part_of_a_message();
    ASSERT_EQ(write(L"pending", false), S_OK);
    session.fail(session_op::read_string, 1, link_down, L"link down");
    EXPECT_EQ(outcome(io->SetBufferSize(BufferMask(0x30), 3)), session_failure());
    EXPECT_EQ(session.count(session_op::write), 0);
    ASSERT_EQ(io->FlushWrite(VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.writes(), lines{"pending\n"}) << "a resized output buffer would have sent 'pen' first";
}

// Resizing the output sends the pending bytes first; when that fails, they are gone.
TEST_F(FmtdioFlushing, FailedOutputResizeDropsThePendingOutput)
{
    session.fail(session_op::get_send_end, 1, link_down, L"link down");
    ASSERT_EQ(write(L"abc", false), S_OK);
    EXPECT_EQ(outcome(io->SetBufferSize(BufferMask(0x20), 3)), session_failure());
    EXPECT_EQ(io->FlushWrite(VARIANT_TRUE), E_FAIL);
}

} // namespace
} // namespace morvane::testing
