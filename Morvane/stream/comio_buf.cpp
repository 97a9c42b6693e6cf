#include "stream/comio_buf.hpp"

#include <algorithm>
#include <cstring>
#include "error/messages.hpp"
#include "platform/scope_exit.hpp"

namespace morvane {

comio_buf::comio_buf(IMessage* session, std::uint32_t in_size, std::uint32_t out_size)
    : m_session(session), m_in_size(in_size), m_out_size(out_size), m_in_buffer(allocate(in_size)),
      m_out_buffer(allocate(std::size_t(out_size) + 1))
{
    reset_put_area();
    reset_get_area();
}

// A buffer that goes away has no one left to report to; a failed send must not keep the
// rest of a response in the session for the next reader.
comio_buf::~comio_buf()
{
    try {
        flush_output();
    } catch (...) {}
    try {
        discard_input();
    } catch (...) {}
}

void comio_buf::set_last_error(const loc_com_error& error) { m_last_error = std::make_unique<loc_com_error>(error); }

template<typename Step> void comio_buf::recording(Step&& step)
{
    try {
        step();
    } catch (const safearray_error& error) {
        const win32_hresult_error raised = error.creation()
                                               ? win32_hresult_error(message_id::no_memory, E_OUTOFMEMORY)
                                               : win32_hresult_error(message_id::bad_array, error.hresult());
        set_last_error(win32_com_error(raised, stream_failure_help_context, IID_IFormattedIO488));
        throw raised;
    } catch (const win32_hresult_error& error) {
        set_last_error(win32_com_error(error, stream_failure_help_context, IID_IFormattedIO488));
        throw;
    } catch (const loc_com_error& error) {
        set_last_error(error);
        throw;
    } catch (...) {
        set_last_error(internal_com_error(IID_IFormattedIO488));
        throw loc_com_error(*m_last_error);
    }
}

// Sizes up to 2^31 bytes are allocated in constant time: nothing is written until it is used.
comio_buf::block comio_buf::allocate(std::size_t size)
{
    try {
        return {std::make_unique_for_overwrite<unsigned char[]>(size), size};
    } catch (const std::bad_alloc&) {
        raise(buffer_not_allocated);
    }
}

void comio_buf::reset_put_area() noexcept { setp(m_out_buffer.bytes.get(), m_out_buffer.bytes.get() + m_out_size); }

void comio_buf::reset_get_area() noexcept
{
    unsigned char* begin = m_in_buffer.bytes.get();
    setg(begin, begin, begin);
}

// ---- output

void comio_buf::send_pending(bool end_of_message)
{
    scope_exit reset([this] { reset_put_area(); });
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (!end_of_message && pending == 0)
        return;
    if (end_of_message && pending == 0)
        raise(end_on_empty_buffer);
    std::size_t count = pending;
    if (end_of_message && pbase()[pending - 1] != '\n')
        pbase()[count++] = '\n';
    send(pbase(), count, end_of_message);
}

void comio_buf::send(const unsigned char* bytes, std::size_t count, bool end_allowed)
{
    write_bytes(*m_session.Get(), m_out_array.describe(bytes, count), end_allowed);
}

void comio_buf::flush_with_end()
{
    recording([this] { send_pending(true); });
}

void comio_buf::flush_output()
{
    recording([this] { send_pending(false); });
}

comio_buf::int_type comio_buf::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        flush_with_end();
        return traits_type::eof();
    }
    if (pptr() == epptr())
        flush_output();
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

void comio_buf::put_from(byte_source& source, std::size_t count)
{
    recording([&] {
        while (count > 0) {
            // A full area goes only once another byte follows it.
            if (pptr() == epptr()) {
                flush_output();
            } else if (const unsigned char* chunk =
                           pptr() == pbase() && count > m_out_size ? source.take_in_place(m_out_size) : nullptr) {
                // A whole chunk with more to come, already in memory, skips the area.
                send(chunk, m_out_size, false);
                count -= m_out_size;
            } else {
                const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(epptr() - pptr()));
                source.produce(pptr(), n);
                pbump(static_cast<int>(n));
                count -= n;
            }
        }
    });
}

std::streamsize comio_buf::xsputn(const char_type* bytes, std::streamsize count)
{
    memory_source source({bytes, static_cast<std::size_t>(count)});
    put_from(source, static_cast<std::size_t>(count));
    return count;
}

void comio_buf::set_output_size(long size)
{
    block fresh;
    recording([&] { fresh = allocate(static_cast<std::size_t>(size) + 1); });
    flush_output();
    m_out_buffer = std::move(fresh);
    m_out_size = static_cast<std::uint32_t>(size);
    reset_put_area();
}

// ---- input

comio_buf::int_type comio_buf::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (m_end_of_message && m_end_of_message == gptr()) {
        reset_get_area();
        m_end_of_message = nullptr;
        return traits_type::eof();
    }
    recording([this] { read_chunk(); });
    return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
}

// The next chunk of the message; no bytes leave the input area as it was. On failure the
// area is empty: the chunk that was being taken in is lost.
read_result comio_buf::read_usable_chunk()
{
    try {
        read_result chunk = read_bytes(*m_session.Get(), static_cast<long>(m_in_size));
        // A chunk is taken byte for byte, so anything but a byte array is unusable.
        if (element_count(chunk.bytes.get()) > 0 && SafeArrayGetElemsize(chunk.bytes.get()) != 1)
            throw win32_hresult_error(message_id::bad_array, E_INVALIDARG);
        return chunk;
    } catch (...) {
        reset_get_area();
        throw;
    }
}

void comio_buf::read_chunk()
{
    read_result chunk = read_usable_chunk();
    const std::size_t count = element_count(chunk.bytes.get());
    if (count < 1)
        return; // no bytes: end-of-file for now, the message stays as it was
    if (count > m_in_buffer.size) {
        reset_get_area();
        m_in_buffer = allocate(count); // a session that returns more than was asked
    }
    unsigned char* begin = m_in_buffer.bytes.get();
    std::memcpy(begin, safearray_data(chunk.bytes.get()).bytes(), count);
    setg(begin, begin, begin + count);
    if (session::ends_message(chunk.status))
        m_end_of_message = begin + count;
}

void comio_buf::read_message(message_sink& sink)
{
    recording([&] {
        if (gptr() < egptr()) {
            sink.take({gptr(), static_cast<std::size_t>(egptr() - gptr())});
            setg(eback(), egptr(), egptr());
        }
        // Each chunk goes to the sink as it is.
        while (!m_end_of_message || m_end_of_message != gptr()) {
            read_result chunk = read_usable_chunk();
            const std::size_t count = element_count(chunk.bytes.get());
            if (count < 1)
                return;
            // The area keeps the chunk's last byte, read, as reading byte by byte would leave it.
            unsigned char* begin = m_in_buffer.bytes.get();
            begin[0] = safearray_data(chunk.bytes.get()).bytes()[count - 1];
            setg(begin, begin + 1, begin + 1);
            sink.take(std::move(chunk.bytes), count);
            if (session::ends_message(chunk.status))
                m_end_of_message = gptr();
        }
        reset_get_area();
        m_end_of_message = nullptr;
    });
}

bool comio_buf::put_back(std::span<const unsigned char> bytes)
{
    std::size_t n = bytes.size();
    for (; n > 0 && eback() < gptr(); --n) {
        if (!traits_type::eq(gptr()[-1], bytes[n - 1]))
            return false;
        gbump(-1);
    }
    if (n == 0)
        return true;
    // The area holds only unread bytes now; the others go in front of them.
    const std::size_t count = static_cast<std::size_t>(egptr() - eback());
    const bool ends_after_area = m_end_of_message != nullptr || count == 0;
    if (n + count > m_in_buffer.size) {
        block grown = allocate(std::max<std::size_t>(m_in_size, n + count));
        std::memcpy(grown.bytes.get() + n, eback(), count);
        m_in_buffer = std::move(grown);
    } else {
        std::memmove(m_in_buffer.bytes.get() + n, eback(), count);
    }
    unsigned char* begin = m_in_buffer.bytes.get();
    std::memcpy(begin, bytes.data(), n);
    setg(begin, begin, begin + n + count);
    if (ends_after_area)
        m_end_of_message = egptr();
    return true;
}

comio_buf::int_type comio_buf::pbackfail(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        if (eback() == gptr())
            return traits_type::eof(); // nothing before the area to step back to
        gbump(-1);
        return traits_type::not_eof(c);
    }
    const unsigned char byte = traits_type::to_char_type(c);
    try {
        return put_back({&byte, 1}) ? c : traits_type::eof();
    } catch (...) {
        return traits_type::eof();
    }
}

void comio_buf::drain()
{
    scope_exit reset([this] {
        reset_get_area();
        m_end_of_message = nullptr;
    });
    if (eback() == egptr() || egptr() == m_end_of_message)
        return;
    drain_message(*m_session.Get());
}

void comio_buf::discard_input()
{
    recording([this] { drain(); });
}

void comio_buf::set_input_size(long size)
{
    block fresh;
    recording([&] { fresh = allocate(static_cast<std::size_t>(size)); });
    discard_input();
    m_in_size = static_cast<std::uint32_t>(size);
    m_in_buffer = std::move(fresh);
    reset_get_area();
}

int comio_buf::sync()
{
    flush_output();
    discard_input();
    return 0;
}

} // namespace morvane
