// basic_comistream and basic_comostream: their initial state, the wrappers that absorb a
// buffer's failure into the bad state, and the two operations that let it through.
#include <ios>
#include "stream/comio_stream.hpp"
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

// One session with an input and an output stream over it, as a bound object has them.
struct streams {
    scripted_session session;
    basic_comistream in{std::make_unique<comio_buf>(&session, 1000, 1000)};
    basic_comostream out{std::make_unique<comio_buf>(&session, 1000, 1000)};
};

TEST(ComioStreams, StandardInitialState)
{
    streams s;
    for (byte_ios* stream : {static_cast<byte_ios*>(&s.in), static_cast<byte_ios*>(&s.out)}) {
        EXPECT_EQ(stream->flags(), std::ios_base::skipws | std::ios_base::dec);
        EXPECT_EQ(stream->exceptions(), std::ios_base::goodbit);
        EXPECT_TRUE(stream->good());
        EXPECT_EQ(stream->fill(), ' '); // widened through the ctype facet for bytes
    }
}

TEST(ComioStreams, WrappersAbsorbTheFailure)
{
    const struct {
        const char* name;
        bool input;
        void (*act)(streams&);
    } rows[] = {
        {"flush_output", false, [](streams& s) { s.out.flush_output(); }},
        {"set_output_size", false, [](streams& s) { s.out.set_output_size(10); }},
        {"discard_input", true, [](streams& s) { s.in.discard_input(); }},
        {"set_input_size", true, [](streams& s) { s.in.set_input_size(10); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        streams s;
        s.session.fail(row.input ? session_op::read_string : session_op::write, 1, link_down, L"link down");
        start_long_message(s.session, s.in.buffer());
        s.out.put('a');
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
    EXPECT_THROW(s.out.flush_with_end(), loc_com_error);
    s.session.fail(session_op::read_string, 1, link_down, L"link down");
    start_long_message(s.session, s.in.buffer());
    EXPECT_THROW(s.in.sync(), loc_com_error);
    EXPECT_TRUE(s.in.good());
    EXPECT_TRUE(s.out.good());
}

} // namespace
} // namespace morvane::testing
