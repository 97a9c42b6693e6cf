// basic_comistream and basic_comostream: their initial state, the wrappers that absorb a
// buffer's failure into the bad state, and the two operations that let it through.
#include <ios>
#include "stream/comio_stream.hpp"
#include "stream/stream_support.hpp"

namespace morvane::testing {
namespace {

// One session with an input and an output stream over it, as a bound object has them.
struct streams {
    streams()
        : in(std::make_unique<comio_buf>(&session, 1000, 1000)), out(std::make_unique<comio_buf>(&session, 1000, 1000))
    {
    }
    void write(std::string_view bytes)
    {
        out.write(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    void start_long_message()
    {
        session.respond(pattern(1500), {1000});
        in.peek();
    }

    scripted_session session;
    basic_comistream in;
    basic_comostream out;
};

TEST(ComioStreams, ReleaseTheSessionWhenDestroyed)
{
    scripted_session session;
    {
        basic_comistream in(std::make_unique<comio_buf>(&session, 1000, 1000));
        basic_comostream out(std::make_unique<comio_buf>(&session, 1000, 1000));
        EXPECT_EQ(session.references(), 2);
    }
    EXPECT_EQ(session.references(), 0);
}

TEST(ComioStreams, StandardInitialState)
{
    streams s;
    for (byte_ios* stream : {static_cast<byte_ios*>(&s.in), static_cast<byte_ios*>(&s.out)}) {
        EXPECT_EQ(stream->flags(), std::ios_base::skipws | std::ios_base::dec);
        EXPECT_EQ(stream->precision(), 6);
        EXPECT_EQ(stream->width(), 0);
        EXPECT_EQ(stream->exceptions(), std::ios_base::goodbit);
        EXPECT_TRUE(stream->good());
    }
    // Bug: no ctype facet for unsigned char is supplied, so fill() throws std::bad_cast.
    for (byte_ios* stream : {static_cast<byte_ios*>(&s.in), static_cast<byte_ios*>(&s.out)})
        EXPECT_EQ(stream->fill(), ' ');
}

TEST(ComioStreams, ReadEndsAtTheEndOfTheMessage)
{
    streams s;
    const std::string data = pattern(1500);
    s.session.respond(data, {1000});
    s.session.respond("next\n");
    std::basic_string<unsigned char> read(2000, 0);
    s.in.read(read.data(), 2000);
    EXPECT_EQ(s.in.gcount(), 1500);
    EXPECT_TRUE(s.in.eof());
    EXPECT_FALSE(s.in.bad());
    EXPECT_EQ(std::string(read.begin(), read.begin() + 1500), data);
    s.in.clear();
    EXPECT_EQ(s.in.get(), 'n');
}

TEST(ComioStreams, WrappersAbsorbTheFailure)
{
    const struct {
        const char* name;
        session_op op;
        bool input;
        void (*act)(streams&);
    } rows[] = {
        {"flush_output", session_op::write, false,
         [](streams& s) {
             s.write("abc");
             s.out.flush_output();
         }},
        {"set_output_size", session_op::write, false,
         [](streams& s) {
             s.write("abc");
             s.out.set_output_size(10);
         }},
        {"write through a full area", session_op::write, false, [](streams& s) { s.write(pattern(1001)); }},
        {"discard_input", session_op::read_string, true,
         [](streams& s) {
             s.start_long_message();
             s.in.discard_input();
         }},
        {"set_input_size", session_op::read_string, true,
         [](streams& s) {
             s.start_long_message();
             s.in.set_input_size(10);
         }},
        {"get", session_op::read, true, [](streams& s) { s.in.get(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        streams s;
        s.session.fail(row.op, 1, link_down, L"link down");
        EXPECT_NO_THROW(row.act(s));
        const byte_ios& failed = row.input ? static_cast<const byte_ios&>(s.in) : s.out;
        const byte_ios& other = row.input ? static_cast<const byte_ios&>(s.out) : s.in;
        EXPECT_TRUE(failed.bad());
        EXPECT_TRUE(other.good());
        expect_error(row.input ? s.in.last_error() : s.out.last_error(), link_down, session_record());
        EXPECT_EQ(s.in.buffer().input_size(), 1000u); // a failed resize keeps the old size
        EXPECT_EQ(s.out.buffer().output_size(), 1000u);
    }
}

TEST(ComioStreams, FlushWithEndAndSyncLetTheErrorThrough)
{
    streams s;
    try {
        s.out.flush_with_end();
        ADD_FAILURE() << "no error";
    } catch (const loc_com_error& error) {
        EXPECT_EQ(error.hresult(), E_FAIL);
    }
    EXPECT_TRUE(s.out.good());

    s.session.fail(session_op::read_string, 1, link_down, L"link down");
    s.start_long_message();
    try {
        s.in.sync();
        ADD_FAILURE() << "no error";
    } catch (const loc_com_error& error) {
        expect_error(&error, link_down, session_record());
    }
    EXPECT_TRUE(s.in.good());
}

TEST(ComioStreams, FlushWithEndAndSyncWork)
{
    streams s;
    s.write("abc");
    s.out.flush_with_end();
    s.start_long_message();
    EXPECT_EQ(s.in.sync(), 0);
    EXPECT_EQ(trace(s.session), (lines{"write 4 end", "read 1000", "last_status", "read_string 1000", "last_status"}));
    EXPECT_EQ(s.session.writes(), lines{"abc\n"});
    EXPECT_TRUE(s.in.good());
    EXPECT_TRUE(s.out.good());
}

} // namespace
} // namespace morvane::testing
