// FlushWrite, FlushRead and SetBufferSize through a bound object.
#include <gtest/gtest.h>
#include "support/fmtdio_fixture.hpp"

namespace morvane::testing {
namespace {

using FmtdioFlushing = bound_fmtdio;

TEST_F(FmtdioFlushing, FlushWriteWithoutEndSendsExactlyWhatIsPending)
{
    EXPECT_EQ(io->FlushWrite(VARIANT_FALSE), S_OK);
    EXPECT_TRUE(session.calls().empty());

    ASSERT_EQ(write(L"12345", false), S_OK);
    EXPECT_EQ(io->FlushWrite(VARIANT_FALSE), S_OK);
    EXPECT_EQ(session.writes(), (std::vector<std::string>{"12345"}));
    EXPECT_EQ(session.ops(), (std::vector<session_op>{session_op::get_send_end, session_op::put_send_end,
                                                       session_op::write, session_op::put_send_end}));
    EXPECT_TRUE(session.send_end());
}

TEST_F(FmtdioFlushing, FlushWriteWithEnd)
{
    EXPECT_EQ(io->FlushWrite(VARIANT_TRUE), E_FAIL);
    ASSERT_EQ(take_thread_error().value().help_context, 1033u);

    ASSERT_EQ(write(L"12345", false), S_OK);
    EXPECT_EQ(io->FlushWrite(short(2)), S_OK); // any non-zero flag counts as true
    EXPECT_EQ(session.writes(), (std::vector<std::string>{"12345\n"}));
    EXPECT_EQ(session.ops(), (std::vector<session_op>{session_op::write}));
}

TEST_F(FmtdioFlushing, FlushReadDrainsOnlyAnUnfinishedResponse)
{
    session.respond("done\n");
    read();
    const std::size_t calls = session.calls().size();
    EXPECT_EQ(io->FlushRead(), S_OK);
    EXPECT_EQ(session.calls().size(), calls) << "a fully read response was drained";
}

TEST_F(FmtdioFlushing, SmallerOutputBufferSendsSmallerChunks)
{
    ASSERT_EQ(io->SetBufferSize(BufferMask_Output, 10), S_OK);
    ASSERT_EQ(write(std::wstring(25, L'w'), false), S_OK);
    ASSERT_EQ(io->FlushWrite(VARIANT_TRUE), S_OK);
    EXPECT_EQ(session.writes(),
              (std::vector<std::string>{std::string(10, 'w'), std::string(10, 'w'), std::string(5, 'w') + "\n"}));
    int suppressed = 0;
    for (const session_call& call : session.calls())
        suppressed += call.op == session_op::write && !call.send_end;
    EXPECT_EQ(suppressed, 2);
}

TEST_F(FmtdioFlushing, SmallerInputBufferStillReadsWholeResponses)
{
    ASSERT_EQ(io->SetBufferSize(BufferMask_Input, 16), S_OK);
    const std::string response = "0123456789abcdefghijklmnopqrstuvwxyz,.:\n";
    session.respond(response, {16, 16});
    EXPECT_EQ(read(), std::wstring(response.begin(), response.end()));
    EXPECT_EQ(session.read_counts(), (std::vector<long>{16, 16, 16}));
}

struct size_case {
    long mask;
    long size;
    HRESULT expected;
    DWORD help_context; // 0: no record
};

TEST_F(FmtdioFlushing, SetBufferSizeArguments)
{
    const size_case cases[] = {
        {0x40, 100, E_INVALIDARG, 0},
        {0x40, 0, E_INVALIDARG, 1036},
        {0x10, -5, E_INVALIDARG, 1036},
        {0x30, 0, E_INVALIDARG, 1036},
        {0x50, 7, S_OK, 0}, // other bits are ignored
    };
    for (const size_case& c : cases) {
        SCOPED_TRACE(c.mask);
        clear_thread_error();
        EXPECT_EQ(io->SetBufferSize(BufferMask(c.mask), c.size), c.expected);
        const std::optional<error_record> record = take_thread_error();
        EXPECT_EQ(record.has_value(), c.help_context != 0);
        if (record) {
            EXPECT_EQ(record->help_context, c.help_context);
        }
    }
    session.respond(std::string(10, 'x'));
    read();
    EXPECT_EQ(session.read_counts().front(), 7);
}

// Resizing sends the pending output first; when that fails, the bytes are gone.
TEST_F(FmtdioFlushing, FailedResizeReportsTheSessionError)
{
    session.fail(session_op::get_send_end, 1, E_ABORT, L"no");
    ASSERT_EQ(write(L"abc", false), S_OK);
    EXPECT_EQ(io->SetBufferSize(BufferMask(0x30), 3), E_ABORT);
    EXPECT_EQ(io->FlushWrite(VARIANT_TRUE), E_FAIL) << "the pending bytes should have been dropped";
}

} // namespace
} // namespace morvane::testing
