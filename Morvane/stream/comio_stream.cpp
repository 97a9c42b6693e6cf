#include "stream/comio_stream.hpp"

#include "stream/byte_facets.hpp"

namespace morvane {
namespace {

template<typename Operation> void absorbing(byte_ios& stream, Operation&& operation)
{
    try {
        operation();
    } catch (...) {
        stream.setstate(std::ios_base::badbit);
    }
}

} // namespace

void raise_recorded(const loc_com_error* recorded)
{
    if (recorded)
        throw loc_com_error(*recorded);
    // A stream failed without a record: nothing better to say than the internal error.
    throw internal_com_error(IID_IFormattedIO488);
}

basic_comistream::basic_comistream(std::unique_ptr<comio_buf> buffer)
    : std::basic_istream<unsigned char, byte_traits>(buffer.get()), m_buffer(std::move(buffer))
{
    imbue(byte_locale());
}

// The base stream never touches its buffer on destruction, so the buffer may go first.
basic_comistream::~basic_comistream() = default;

void basic_comistream::set_input_size(long size)
{
    absorbing(*this, [&] { m_buffer->set_input_size(size); });
}

void basic_comistream::discard_input()
{
    absorbing(*this, [&] { m_buffer->discard_input(); });
}

bool basic_comistream::read_message(message_sink& sink)
{
    if (good())
        absorbing(*this, [&] { m_buffer->read_message(sink); });
    return !bad();
}

basic_comostream::basic_comostream(std::unique_ptr<comio_buf> buffer)
    : std::basic_ostream<unsigned char, byte_traits>(buffer.get()), m_buffer(std::move(buffer))
{
    imbue(byte_locale());
}

basic_comostream::~basic_comostream() = default;

void basic_comostream::set_output_size(long size)
{
    absorbing(*this, [&] { m_buffer->set_output_size(size); });
}

void basic_comostream::flush_output()
{
    absorbing(*this, [&] { m_buffer->flush_output(); });
}

void basic_comostream::write_from(byte_source& source, std::size_t count)
{
    // Like write(): nothing happens on a stream that has already failed.
    if (good())
        absorbing(*this, [&] { m_buffer->put_from(source, count); });
}

} // namespace morvane
