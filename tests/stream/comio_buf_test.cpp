// comio_buf over a scripted session: the statuses that end a message or not, and destruction.
#include <gtest/gtest.h>
#include <memory>
#include "stream/comio_buf.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

// Bytes up to the first end-of-file, taken one at a time.
std::string get_to_eof(comio_buf& buffer)
{
    std::string bytes;
    for (auto c = buffer.sbumpc(); c != byte_traits::eof(); c = buffer.sbumpc())
        bytes.push_back(static_cast<char>(c));
    return bytes;
}

// Collects what read_message hands over.
struct collected final : message_sink {
    std::string bytes;
    void take(std::span<const unsigned char> b) override { add(b.data(), b.size()); }
    void take(unique_safearray chunk, std::size_t count) override { add(safearray_data(chunk.get()).bytes(), count); }
    void add(const unsigned char* data, std::size_t count) { bytes.append(reinterpret_cast<const char*>(data), count); }
};

// A buffer over a scripted session; the session must have every reference back at the end.
struct rig {
    explicit rig(std::uint32_t in_size) : buffer(std::make_unique<comio_buf>(&session, in_size, 1000)) {}
    ~rig()
    {
        buffer.reset();
        EXPECT_EQ(session.references(), 0);
    }
    scripted_session session;
    std::unique_ptr<comio_buf> buffer;
};

// The termination character's status ends a message; any other but END's or the count's leaves it open,
// byte by byte and in bulk, but ends draining.
TEST(ComioBufInput, AnyOtherStatusLeavesTheMessageOpenAndEndsDraining)
{
    for (const bool bulk : {false, true}) {
        rig r(4);
        r.session.add_chunk("a\xFF", 0x3FFF0001), r.session.add_chunk("cd", status_termination_character);
        collected sink;
        bulk ? r.buffer->read_message(sink) : void(sink.bytes = get_to_eof(*r.buffer));
        EXPECT_EQ(sink.bytes, std::string("a\xFF") + "cd") << bulk; // "\xFFcd" would be one escape
    }
    rig r(4);
    r.session.add_chunk("abcd", status_count_reached);
    r.session.add_chunk("efgh", 0x3FFF0001);
    r.session.add_chunk("ij", status_end);
    r.buffer->sbumpc();
    r.buffer->discard_input();
    EXPECT_EQ(r.session.trace(), (lines{"read 4", "last_status", "read_string 1000", "last_status"}));
    EXPECT_EQ(get_to_eof(*r.buffer), "ij");
}

// Destruction sends what is pending without END, then drains the message, even when the send fails.
TEST(ComioBufLifetime, DestructionDrainsAfterAFailedSend)
{
    rig r(4);
    r.session.fail(session_op::write, 1, link_down, L"link down");
    r.session.respond(pattern(1500), {1000});
    r.buffer->sgetc();
    r.buffer->sputn(reinterpret_cast<const unsigned char*>("abc"), 3);
    r.buffer.reset();
    const lines drain = {"read_string 1000", "last_status"}; // 1000 whatever the buffer's size
    EXPECT_EQ(r.session.trace(), (lines{"read 4", "last_status"} + chunk(3) + drain + drain));
    clear_thread_error();
}

} // namespace
} // namespace morvane::testing
