// basic_comistream and basic_comostream: the wrappers that absorb a buffer's failure into the
// bad state, and the two operations that let it through.
#include <gtest/gtest.h>
#include "stream/comio_stream.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {
namespace {

// One session with an input and an output stream over it, as a bound object has them.
struct streams {
    streams()
    {
        session.respond(pattern(1500), {1000}); // a long message, partly read
        in.peek();
        out.put('a');
    }
    scripted_session session;
    basic_comistream in{std::make_unique<comio_buf>(&session, 1000, 1000)};
    basic_comostream out{std::make_unique<comio_buf>(&session, 1000, 1000)};
};

struct discard final : message_sink {
    void take(std::span<const unsigned char>) override {}
    void take(unique_safearray, std::size_t) override {}
};

TEST(ComioStreams, WrappersAbsorbTheFailure)
{
    const struct {
        const char* name;
        bool input;
        void (*act)(streams&);
    } rows[] = {
        {"flush_output", false, [](streams& s) { s.out.flush_output(); }},
        {"set_output_size", false, [](streams& s) { s.out.set_output_size(10); }},
        {"write_from", false, [](streams& s) {
             const std::string bytes = pattern(2000);
             memory_source source({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()});
             s.out.write_from(source, bytes.size());
         }},
        {"discard_input", true, [](streams& s) { s.in.discard_input(); }},
        {"set_input_size", true, [](streams& s) { s.in.set_input_size(10); }},
        {"read_message", true, [](streams& s) { discard d; EXPECT_FALSE(s.in.read_message(d)); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        streams s;
        const session_op op = row.input ? session_op::read : session_op::write;
        s.session.fail(op, s.session.count(op) + 1, link_down, L"link down");
        s.session.fail(session_op::read_string, 1, link_down, L"link down");
        EXPECT_NO_THROW(row.act(s));
        EXPECT_TRUE((row.input ? static_cast<byte_ios&>(s.in) : s.out).bad());
        EXPECT_TRUE((row.input ? static_cast<byte_ios&>(s.out) : s.in).good());
        EXPECT_EQ(describe(row.input ? s.in.last_error() : s.out.last_error()), session_failure());
        EXPECT_EQ(s.in.buffer().input_size(), 1000u); // a failed resize keeps the old size
        EXPECT_EQ(s.out.buffer().output_size(), 1000u);
    }
}

TEST(ComioStreams, FlushWithEndAndSyncLetTheErrorThrough)
{
    streams s;
    s.out.flush_with_end();
    EXPECT_THROW(s.out.flush_with_end(), loc_com_error);
    s.session.fail(session_op::read_string, 1, link_down, L"link down");
    EXPECT_THROW(s.in.sync(), loc_com_error);
    EXPECT_TRUE(s.in.good());
    EXPECT_TRUE(s.out.good());
}

} // namespace
} // namespace morvane::testing
