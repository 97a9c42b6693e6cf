// comio_buf over a scripted session: where a message ends, byte by byte and on the bulk path;
// errors and destruction. Output framing is tested through WriteString, reads in sequence and
// draining through ReadNumber and ReadList.
#include <gtest/gtest.h>
#include <array>
#include <memory>
#include "stream/comio_buf.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

std::streamsize put(comio_buf& buffer, std::string_view bytes)
{
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    return buffer.sputn(data, static_cast<std::streamsize>(bytes.size()));
}

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
    explicit rig(std::uint32_t in_size = 1000) : buffer(std::make_unique<comio_buf>(&session, in_size, 1000)) {}
    ~rig()
    {
        buffer.reset();
        EXPECT_EQ(session.references(), 0);
    }
    void start_long_message() // the first 1000 bytes of a 1500-byte message
    {
        session.respond(pattern(1500), {1000});
        buffer->sgetc();
    }
    scripted_session session;
    std::unique_ptr<comio_buf> buffer;
};

TEST(ComioBufInput, StatusDecidesWhereAMessageEnds)
{
    const struct {
        std::vector<std::pair<std::string, long>> response; // read 4 bytes at a time
        lines messages;                                     // each up to its one end-of-file
    } rows[] = {
        // clang-format off
        {{{"a\xFF" "cd", status_count_reached}, {"ab", status_termination_character}, {"cd", status_end}},
         {"a\xFF" "cdab", "cd"}},
        // clang-format on
        {{{"ab", 0x3FFF0001}, {"cd", status_end}}, {"abcd"}}, // any other status leaves the message open
        {{{"", status_end}, {"xy", status_end}, {"", status_end}}, {"", "xy", ""}}, // no bytes: eof, message open
    };
    for (const bool bulk : {false, true})
        for (const auto& row : rows) {
            SCOPED_TRACE(::testing::Message() << "row " << &row - rows << (bulk ? ", read_message" : ", byte by byte"));
            rig r(4);
            for (const auto& [bytes, status] : row.response)
                r.session.add_chunk(bytes, status);
            for (const std::string& message : row.messages) {
                collected sink;
                bulk ? r.buffer->read_message(sink) : void(sink.bytes = get_to_eof(*r.buffer));
                EXPECT_EQ(sink.bytes, message);
            }
            EXPECT_EQ(r.session.trace().size(), 2 * row.response.size()) << "read, last_status per chunk";
        }
}

// Draining goes on while the session says that the count was reached, and no further.
TEST(ComioBufInput, DrainingStopsAtAnyOtherStatus)
{
    rig r(4);
    r.session.add_chunk("abcd", status_count_reached);
    r.session.add_chunk("efgh", 0x3FFF0001);
    r.session.add_chunk("ij", status_end);
    r.buffer->sbumpc();
    r.buffer->discard_input();
    EXPECT_EQ(r.session.trace(), (lines{"read 4", "last_status", "read_string 1000", "last_status"}));
    EXPECT_EQ(get_to_eof(*r.buffer), "ij");
}

TEST(ComioBufErrors, SessionFailureIsRecordedAndRaised)
{
    const struct {
        const char* name;
        session_op op;
        void (*act)(rig&);
    } rows[] = {
        // clang-format off
        {"Write ending a message", session_op::write, [](rig& r) { put(*r.buffer, "a"); r.buffer->flush_with_end(); }},
        {"SendEndEnabled put", session_op::put_send_end, [](rig& r) { put(*r.buffer, "a"); r.buffer->flush_output(); }},
        {"Write of a whole chunk", session_op::write, [](rig& r) { put(*r.buffer, pattern(1001)); }},
        {"Read", session_op::read, [](rig& r) { r.session.respond("abc"); r.buffer->sgetc(); }},
        {"Read of a message", session_op::read, [](rig& r) { collected sink; r.buffer->read_message(sink); }},
        {"ReadString draining", session_op::read_string,
         [](rig& r) { r.start_long_message(); r.buffer->discard_input(); }},
        // clang-format on
    };
    for (const auto& row : rows)
        for (const bool with_information : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (with_information ? ", with error information" : ", without"));
            rig r;
            const auto information = with_information ? std::optional<std::wstring>(L"link down") : std::nullopt;
            r.session.fail(row.op, 1, link_down, information);
            clear_thread_error();
            // Without error information from the session the failure becomes the internal error.
            const std::wstring expected = with_information ? session_failure() : internal_failure();
            EXPECT_EQ(describe(caught([&] { row.act(r); })), expected);
            EXPECT_EQ(describe(*r.buffer->last_error()), expected);
            EXPECT_EQ(outcome(S_OK), L"0 without a record") << "recorded, not published";
        }
}

TEST(ComioBufErrors, FailedReadLosesItsChunkAndLeavesAnEmptyArea)
{
    rig r(4);
    r.session.fail(session_op::last_status, 2, link_down, L"link down");
    r.session.respond("abcdef", {4});
    r.session.respond("gh");
    EXPECT_EQ(r.buffer->sgetn(std::array<unsigned char, 4>().data(), 4), 4);
    EXPECT_THROW(r.buffer->sgetc(), loc_com_error); // "ef" read, its status not
    r.buffer->discard_input();                      // the area is empty: no draining
    EXPECT_EQ(get_to_eof(*r.buffer), "gh");
    EXPECT_EQ(r.session.count(session_op::read_string), 0);
}

// Destruction sends what is pending without END, then drains the message, even when the
// send fails; nothing escapes.
TEST(ComioBufLifetime, DestructionSendsThenDrainsWhateverFails)
{
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "failing write" : "working session");
        rig r(4);
        if (failing)
            r.session.fail(session_op::write, 1, link_down, L"link down");
        r.start_long_message();
        put(*r.buffer, "abc");
        r.buffer.reset();
        const lines drain = {"read_string 1000", "last_status"}; // 1000 whatever the buffer's size
        EXPECT_EQ(r.session.trace(), (lines{"read 4", "last_status"} + chunk(3) + drain + drain));
    }
    clear_thread_error();
}

} // namespace
} // namespace morvane::testing
