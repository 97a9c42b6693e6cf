// comio_buf's message framing over a scripted session: output chunks, END and the final line
// feed; input chunks, the end of a message, draining, put-back and resizing.
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

constexpr auto eof = byte_traits::eof();

TEST(ComioBufOutput, ChunksWithEndSuppressedThenTheEnd)
{
    for (const bool send_end : {true, false}) {
        SCOPED_TRACE(send_end ? "SendEndEnabled true" : "SendEndEnabled false");
        rig r;
        r.session.set_send_end(send_end);
        const std::string data = pattern(2500);
        EXPECT_EQ(put(*r.buffer, data), 2500);

        const lines chunk = send_end ? lines{"get_send_end", "put_send_end 0", "write 1000 noend", "put_send_end -1"}
                                     : lines{"get_send_end", "write 1000 noend"};
        EXPECT_EQ(trace(r.session), chunk + chunk); // the last 500 bytes stay pending
        r.buffer->flush_with_end();
        EXPECT_EQ(trace(r.session), chunk + chunk + lines{send_end ? "write 501 end" : "write 501 noend"});
        EXPECT_EQ(r.session.writes(), (lines{data.substr(0, 1000), data.substr(1000, 1000), data.substr(2000) + "\n"}));
        EXPECT_EQ(r.session.send_end(), send_end);
    }
}

TEST(ComioBufOutput, OneFinalLineFeed)
{
    const struct {
        std::uint32_t out_size;
        std::string pending;
        std::string sent;
    } rows[] = {
        {1000, "abc", "abc\n"},
        {1000, "ab\n", "ab\n"},
        {1000, "\n", "\n"},
        {1000, "a\nb", "a\nb\n"},
        {1000, pattern(1000), pattern(1000) + "\n"}, // a full area plus its line feed in one write
        {1000, pattern(999) + "\n", pattern(999) + "\n"},
        {3, "abc", "abc\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.pending.substr(0, 8) + " size " + std::to_string(row.pending.size()));
        rig r(1000, row.out_size);
        put(*r.buffer, row.pending);
        EXPECT_TRUE(r.session.calls().empty());
        r.buffer->flush_with_end();
        EXPECT_EQ(trace(r.session), lines{"write " + std::to_string(row.sent.size()) + " end"});
        EXPECT_EQ(r.session.writes(), lines{row.sent});
    }
}

TEST(ComioBufOutput, FlushOutputSendsPendingBytesOnly)
{
    rig r;
    r.buffer->flush_output();
    EXPECT_TRUE(r.session.calls().empty());
    put(*r.buffer, "abc");
    r.buffer->flush_output();
    r.buffer->flush_output();
    EXPECT_EQ(trace(r.session), (lines{"get_send_end", "put_send_end 0", "write 3 noend", "put_send_end -1"}));
    EXPECT_EQ(r.session.writes(), lines{"abc"});
}

TEST(ComioBufOutput, EndOnAnEmptyBufferFails)
{
    for (const bool after_a_message : {false, true}) {
        SCOPED_TRACE(after_a_message ? "after a message" : "nothing written");
        rig r;
        if (after_a_message) {
            put(*r.buffer, "abc");
            r.buffer->flush_with_end();
        }
        const std::size_t calls = r.session.calls().size();
        const error_record expected =
            component_record(L"An attempt was made to send an END signal on an empty buffer.", 1033);
        try {
            r.buffer->flush_with_end();
            ADD_FAILURE() << "no error";
        } catch (const loc_com_error& error) {
            EXPECT_STREQ(error.what(), "An attempt was made to send an END signal on an empty buffer.");
            expect_error(&error, E_FAIL, expected);
        }
        expect_error(r.buffer->last_error(), E_FAIL, expected);
        EXPECT_EQ(r.session.calls().size(), calls);
    }
}

TEST(ComioBufOutput, ResizeSendsPendingThenUsesTheNewSize)
{
    rig r;
    put(*r.buffer, "hello");
    r.buffer->set_output_size(4);
    EXPECT_EQ(trace(r.session), (lines{"get_send_end", "put_send_end 0", "write 5 noend", "put_send_end -1"}));
    EXPECT_EQ(r.buffer->output_size(), 4u);
    put(*r.buffer, "abcdefghij");
    r.buffer->flush_with_end();

    r.buffer->set_output_size(8); // nothing pending: no session call
    put(*r.buffer, "0123456789");
    r.buffer->flush_with_end();
    EXPECT_EQ(r.session.writes(), (lines{"hello", "abcd", "efgh", "ij\n", "01234567", "89\n"}));
}

TEST(ComioBufInput, ResponseInChunksEndsWithOneEof)
{
    rig r;
    const std::string data = pattern(1500);
    r.session.respond(data, {1000});
    // The next response opens with a chunk as long as the last one of this response.
    const std::string next = pattern(500) + "tail\n";
    r.session.respond(next, {500});
    EXPECT_EQ(get_to_eof(*r.buffer), data);
    EXPECT_EQ(trace(r.session), (lines{"read 1000", "last_status", "read 1000", "last_status"}));
    EXPECT_EQ(get_to_eof(*r.buffer), next); // the next read goes to the session again
    EXPECT_EQ(r.session.read_counts().size(), 4u);
}

TEST(ComioBufInput, StatusDecidesTheEndOfTheMessage)
{
    const struct {
        long status;
        std::string message;
        std::size_t reads;
    } rows[] = {
        {status_end, "abc", 1},
        {status_termination_character, "abc", 1},
        {status_count_reached, "abcde", 2},
        {0x3FFF0001, "abcde", 2}, // any other status leaves the message open
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        rig r;
        r.session.add_chunk("abc", row.status);
        r.session.add_chunk("de", status_end);
        EXPECT_EQ(get_to_eof(*r.buffer), row.message);
        EXPECT_EQ(r.session.read_counts().size(), row.reads);
    }
}

TEST(ComioBufInput, EmptyReadIsEofWithoutEndingTheMessage)
{
    rig r;
    r.session.add_chunk("", status_end);
    r.session.add_chunk("xy", status_end);
    r.session.add_chunk("", status_end);
    EXPECT_EQ(r.buffer->sgetc(), eof);
    EXPECT_EQ(get_to_eof(*r.buffer), "xy");
    EXPECT_EQ(r.buffer->sgetc(), eof);
    r.buffer->discard_input(); // nothing read since: no session call
    EXPECT_EQ(trace(r.session), (lines{"read 1000", "last_status", "read 1000", "last_status", "read 1000", "last_status"}));
}

TEST(ComioBufInput, DiscardDrainsTheRestOfTheMessage)
{
    const struct {
        int consumed; // bytes taken from the first chunk of 1000
        long final_status;
    } rows[] = {{0, status_end}, {10, status_termination_character}, {1000, 0x3FFF0001}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.consumed);
        rig r;
        r.session.respond(pattern(2600), {1000}, row.final_status);
        r.session.respond("next\n");
        r.buffer->sgetc();
        for (int i = 0; i < row.consumed; ++i)
            r.buffer->sbumpc();
        r.buffer->discard_input();
        EXPECT_EQ(trace(r.session), (lines{"read 1000", "last_status", "read_string 1000", "last_status",
                                           "read_string 1000", "last_status"}));
        EXPECT_EQ(get_to_eof(*r.buffer), "next\n");
    }
}

TEST(ComioBufInput, NoDrainOnceTheMessageIsRead)
{
    const struct {
        const char* name;
        int taken; // -1: through the end-of-file
        const char* next;
    } rows[] = {{"every byte, not the eof", 3, "next\n"}, {"through the eof", -1, "next\n"}, {"nothing read", 0, "abc"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        rig r;
        r.session.respond("abc");
        r.session.respond("next\n");
        if (row.taken < 0)
            get_to_eof(*r.buffer);
        for (int i = 0; i < row.taken; ++i)
            r.buffer->sbumpc();
        const std::size_t calls = r.session.calls().size();
        r.buffer->discard_input();
        EXPECT_EQ(r.session.calls().size(), calls);
        EXPECT_EQ(get_to_eof(*r.buffer), row.next);
    }
}

TEST(ComioBufInput, PutBackAtTheStartOfTheArea)
{
    const struct {
        const char* name;
        std::vector<std::pair<std::string, long>> chunks;
        bool through_eof; // otherwise the first chunk is loaded and nothing taken
        std::string rest;
        std::size_t reads;
    } rows[] = {
        {"full area, message open", {{"abcd", status_count_reached}, {"ef", status_end}}, false, "zabcdef", 2},
        {"message ended", {{"ab", status_end}}, false, "zab", 1},
        {"after the message's eof", {{"ab", status_end}}, true, "z", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        rig r(4, 1000);
        for (const auto& [bytes, status] : row.chunks)
            r.session.add_chunk(bytes, status);
        r.session.add_chunk("N", status_end);
        if (row.through_eof)
            EXPECT_EQ(get_to_eof(*r.buffer), "ab");
        else
            EXPECT_EQ(r.buffer->sgetc(), 'a');
        EXPECT_EQ(r.buffer->sputbackc('z'), 'z');
        EXPECT_EQ(get_to_eof(*r.buffer), row.rest);
        EXPECT_EQ(r.session.read_counts().size(), row.reads);
        EXPECT_EQ(r.buffer->sgetc(), 'N');
    }
}

TEST(ComioBufInput, PutBackOfAnotherByteFails)
{
    rig r;
    r.session.respond("abc");
    EXPECT_EQ(r.buffer->sbumpc(), 'a');
    EXPECT_EQ(r.buffer->sputbackc('x'), eof);
    EXPECT_EQ(r.buffer->sputbackc('a'), 'a');
    EXPECT_EQ(get_to_eof(*r.buffer), "abc");
    EXPECT_EQ(r.session.read_counts().size(), 1u);
}

TEST(ComioBufInput, ResizeDrainsThenReadsTheNewCount)
{
    rig r;
    r.session.respond(pattern(2500), {1000});
    r.session.respond("0123456789ABCDEFGHIJ");
    for (int i = 0; i < 10; ++i)
        r.buffer->sbumpc();
    r.buffer->set_input_size(16);
    EXPECT_EQ(r.buffer->input_size(), 16u);
    EXPECT_EQ(trace(r.session), (lines{"read 1000", "last_status", "read_string 1000", "last_status",
                                       "read_string 1000", "last_status"}));
    EXPECT_EQ(get_to_eof(*r.buffer), "0123456789ABCDEFGHIJ");
    EXPECT_EQ(r.session.read_counts(), (std::vector<long>{1000, 16, 16}));
}

} // namespace
} // namespace morvane::testing
