// comio_buf's message framing over a scripted session: output chunks, END and the final line
// feed; input chunks, the end of a message, draining, put-back and resizing.
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

using chunks = std::vector<std::pair<std::string, long>>;

TEST(ComioBufOutput, FullAreasGoWithoutEndAndTheRestWithIt)
{
    for (const bool send_end : {true, false}) {
        SCOPED_TRACE(send_end ? "SendEndEnabled true" : "SendEndEnabled false");
        rig r;
        r.session.set_send_end(send_end);
        const std::string data = pattern(2500);
        put(*r.buffer, data);
        // With SendEndEnabled off there is nothing to switch off and back on.
        const lines full = send_end ? chunk(1000) : lines{"get_send_end", "write 1000 noend"};
        EXPECT_EQ(trace(r.session), full + full); // the last 500 bytes stay pending
        r.buffer->flush_with_end();
        EXPECT_EQ(trace(r.session), full + full + lines{send_end ? "write 501 end" : "write 501 noend"});
        EXPECT_EQ(r.session.writes(), (lines{data.substr(0, 1000), data.substr(1000, 1000), data.substr(2000) + "\n"}));
    }
}

TEST(ComioBufOutput, FlushWithEndSendsOneFinalLineFeed)
{
    const std::pair<std::string, std::string> rows[] = {
        {"abc", "abc\n"},
        {"a\nb", "a\nb\n"},
        {"ab\n", "ab\n"},
        {pattern(1000), pattern(1000) + "\n"}, // a full area and its line feed in one write
    };
    for (const auto& [pending, sent] : rows) {
        SCOPED_TRACE(::testing::Message() << pending.size() << " bytes");
        rig r;
        put(*r.buffer, pending);
        EXPECT_TRUE(r.session.calls().empty());
        r.buffer->flush_with_end();
        EXPECT_EQ(trace(r.session), lines{"write " + std::to_string(sent.size()) + " end"});
        EXPECT_EQ(r.session.writes(), lines{sent});
    }
}

TEST(ComioBufOutput, NothingIsPendingAfterAWriteThatWorkedOrFailed)
{
    rig r;
    const std::wstring end_on_empty =
        component_failure(E_FAIL, L"An attempt was made to send an END signal on an empty buffer.", 1033);
    EXPECT_EQ(describe(caught([&] { r.buffer->flush_with_end(); })), end_on_empty);
    EXPECT_EQ(describe(r.buffer->last_error()), end_on_empty);
    EXPECT_TRUE(r.session.calls().empty());

    r.session.fail(session_op::write, 1, link_down, L"link down");
    r.session.fail(session_op::write, 2, link_down, L"link down");
    put(*r.buffer, "abc");
    EXPECT_THROW(r.buffer->flush_output(), loc_com_error);
    EXPECT_EQ(trace(r.session), chunk(3));
    EXPECT_TRUE(r.session.send_end()); // switched back on after the failure
    put(*r.buffer, "de");
    EXPECT_THROW(r.buffer->flush_with_end(), loc_com_error);
    put(*r.buffer, "x");
    r.buffer->flush_with_end();
    EXPECT_EQ(describe(caught([&] { r.buffer->flush_with_end(); })), end_on_empty);
    EXPECT_EQ(r.session.writes(), (lines{"abc", "de\n", "x\n"}));
}

TEST(ComioBufOutput, ResizeSendsWhatIsPendingThenUsesTheNewSize)
{
    rig r;
    r.buffer->flush_output(); // nothing pending: no session call
    put(*r.buffer, "hello");
    r.buffer->set_output_size(4);
    r.buffer->set_output_size(4);
    EXPECT_EQ(r.buffer->output_size(), 4u);
    put(*r.buffer, "abcdefghij");
    r.buffer->flush_with_end();
    EXPECT_EQ(trace(r.session), chunk(5) + chunk(4) + chunk(4) + lines{"write 3 end"});
    EXPECT_EQ(r.session.writes(), (lines{"hello", "abcd", "efgh", "ij\n"}));
}

TEST(ComioBufInput, StatusDecidesWhereAMessageEnds)
{
    const struct {
        chunks response; // read 4 bytes at a time
        lines messages;  // each up to its one end-of-file
    } rows[] = {
        {{{"a\xFF" "cd", status_count_reached}, {"ef", status_end}, {"gh", status_end}}, {"a\xFF" "cdef", "gh"}},
        {{{"abcd", status_end}, {"ab", status_termination_character}, {"cd", status_end}}, {"abcd", "ab", "cd"}},
        {{{"ab", 0x3FFF0001}, {"cd", status_end}}, {"abcd"}}, // any other status leaves the message open
        {{{"", status_end}, {"xy", status_end}, {"", status_end}}, {"", "xy", ""}}, // no bytes: eof, message open
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
        rig r(4);
        for (const auto& [bytes, status] : row.response)
            r.session.add_chunk(bytes, status);
        for (const std::string& message : row.messages)
            EXPECT_EQ(get_to_eof(*r.buffer), message);
        EXPECT_EQ(r.session.read_counts(), std::vector<long>(row.response.size(), 4));
    }
}

TEST(ComioBufInput, DiscardAndResizeDrainOnlyAMessageNotReadToItsEnd)
{
    const struct {
        std::size_t size; // of the response, read 1000 bytes at a time
        long final_status;
        int taken;  // bytes taken first; one past the size takes the end-of-file
        int drains; // ReadString calls
        bool resize;
    } rows[] = {
        {2600, status_end, 1, 2, false},
        {2600, status_termination_character, 10, 2, true},
        {2600, 0x3FFF0001, 1000, 2, false}, // the area used up, the message not
        {3, status_end, 3, 0, false},
        {3, status_end, 4, 0, true},
        {3, status_end, 0, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::Message() << row.size << " bytes, " << row.taken << " taken");
        rig r;
        row.size > 1000 ? r.session.respond(pattern(row.size), {1000}, row.final_status) : r.session.respond(pattern(3));
        r.session.respond("next\n");
        for (int i = 0; i < row.taken; ++i)
            r.buffer->sbumpc();
        row.resize ? r.buffer->set_input_size(16) : r.buffer->discard_input();
        EXPECT_EQ(r.buffer->input_size(), row.resize ? 16u : 1000u);
        EXPECT_EQ(r.session.count(session_op::read_string), row.drains);
        EXPECT_EQ(get_to_eof(*r.buffer), row.taken ? "next\n" : pattern(3));
        EXPECT_EQ(r.session.read_counts().back(), row.resize ? 16 : 1000);
    }
}

TEST(ComioBufInput, PutBackBeforeTheArea)
{
    rig r(4);
    for (const auto& [bytes, status] :
         chunks{{"ab", status_end}, {"cdef", status_count_reached}, {"gh", status_end}, {"N", status_end}})
        r.session.add_chunk(bytes, status);
    EXPECT_EQ(r.buffer->sgetc(), 'a');
    EXPECT_EQ(r.buffer->sputbackc('z'), 'z'); // before the message's last area
    EXPECT_EQ(get_to_eof(*r.buffer), "zab");
    EXPECT_EQ(r.buffer->sputbackc('y'), 'y'); // after the message's end-of-file
    EXPECT_EQ(get_to_eof(*r.buffer), "y");
    EXPECT_EQ(r.buffer->sgetc(), 'c');
    EXPECT_EQ(r.buffer->sputbackc('x'), 'x'); // before a full area, the message open
    EXPECT_EQ(get_to_eof(*r.buffer), "xcdefgh");
    EXPECT_EQ(r.buffer->sbumpc(), 'N');
    EXPECT_EQ(r.buffer->sputbackc('w'), byte_traits::eof()); // not the byte just read
    EXPECT_EQ(r.session.read_counts().size(), 4u);
}

} // namespace
} // namespace morvane::testing
