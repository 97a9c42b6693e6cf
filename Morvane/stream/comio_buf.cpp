#include "stream/comio_buf.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include "error/messages.hpp"
#include "platform/safearray.hpp"
#include "platform/scope_exit.hpp"
#include "stream/session_calls.hpp"

namespace morvane {

// out_buffer_ holds one byte more than the put area: room for the line feed that ends a
// message, so a full area plus its line feed goes out without another copy.

comio_buf::comio_buf(IMessage* session, std::uint32_t in_size, std::uint32_t out_size)
    : session_(session), in_size_(in_size), out_size_(out_size), in_buffer_(in_size),
      out_buffer_(std::size_t(out_size) + 1)
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
    } catch (...) {
    }
    try {
        discard_input();
    } catch (...) {
    }
}

void comio_buf::set_last_error(const loc_com_error& error)
{
    last_error_ = std::make_unique<loc_com_error>(error);
}

template <typename Step>
void comio_buf::recording(Step&& step)
{
    try {
        step();
    } catch (const win32_hresult_error& error) {
        set_last_error(win32_com_error(error, stream_failure_help_context, IID_IFormattedIO488));
        throw;
    } catch (const loc_com_error& error) {
        set_last_error(error);
        throw;
    } catch (...) {
        set_last_error(internal_com_error(IID_IFormattedIO488));
        throw loc_com_error(*last_error_);
    }
}

void comio_buf::reset_put_area() noexcept
{
    setp(out_buffer_.data(), out_buffer_.data() + out_size_);
}

void comio_buf::reset_get_area() noexcept
{
    unsigned char* begin = in_buffer_.data();
    setg(begin, begin, begin);
}

std::vector<unsigned char> comio_buf::allocate_buffer(std::size_t size)
{
    try {
        return std::vector<unsigned char>(size);
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    raise(buffer_not_allocated);
}

// ---- output

void comio_buf::send_pending(bool end_of_message)
{
    scope_exit reset([this] { reset_put_area(); });
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    if (!end_of_message) {
        if (pending)
            write_bytes_without_end(*session_.Get(), {pbase(), pending});
        return;
    }
    if (pending == 0)
        raise(end_on_empty_buffer);
    std::size_t count = pending;
    if (pbase()[pending - 1] != '\n')
        pbase()[count++] = '\n';
    write_bytes(*session_.Get(), {pbase(), count});
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

void comio_buf::set_output_size(long size)
{
    std::vector<unsigned char> fresh;
    recording([&] { fresh = allocate_buffer(static_cast<std::size_t>(size) + 1); });
    flush_output();
    out_buffer_ = std::move(fresh);
    out_size_ = static_cast<std::uint32_t>(size);
    reset_put_area();
}

// ---- input

comio_buf::int_type comio_buf::underflow()
{
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (end_of_message_ && end_of_message_ == gptr()) {
        reset_get_area();
        end_of_message_ = nullptr;
        return traits_type::eof();
    }
    recording([this] { read_chunk(); });
    return gptr() < egptr() ? traits_type::to_int_type(*gptr()) : traits_type::eof();
}

void comio_buf::read_chunk()
{
    try {
        in_buffer_.resize(in_size_);
        read_result chunk = read_bytes(*session_.Get(), static_cast<long>(in_size_));
        const std::size_t count = element_count(chunk.bytes.get());
        if (count < 1)
            return; // no bytes: end-of-file for now, the message stays as it was
        // A chunk is copied byte for byte, so anything but a byte array is unusable.
        if (SafeArrayGetElemsize(chunk.bytes.get()) != 1)
            throw win32_hresult_error(message_id::bad_array, E_INVALIDARG);

        in_buffer_.resize(std::max<std::size_t>(in_size_, count));
        reset_get_area();
        {
            safearray_data data(chunk.bytes.get());
            std::memcpy(in_buffer_.data(), data.get(), count);
        }
        unsigned char* begin = in_buffer_.data();
        setg(begin, begin, begin + count);
        if (ends_message(chunk.status))
            end_of_message_ = begin + count;
    } catch (...) {
        reset_get_area(); // the chunk that was being taken in is lost
        throw;
    }
}

comio_buf::int_type comio_buf::pbackfail(int_type c)
{
    const bool is_eof = traits_type::eq_int_type(c, traits_type::eof());
    if (eback() < gptr()) {
        if (!is_eof && !traits_type::eq(gptr()[-1], traits_type::to_char_type(c)))
            return traits_type::eof();
        gbump(-1);
        return traits_type::not_eof(c);
    }
    if (is_eof)
        return traits_type::eof(); // nothing before the area to step back to

    const std::size_t count = static_cast<std::size_t>(egptr() - eback());
    const bool ends_after_area = end_of_message_ != nullptr || count == 0;
    try {
        if (count == in_buffer_.size())
            in_buffer_.resize(in_size_ + count);
    } catch (const std::bad_alloc&) {
        return traits_type::eof();
    }
    unsigned char* begin = in_buffer_.data();
    std::memmove(begin + 1, begin, count);
    begin[0] = traits_type::to_char_type(c);
    setg(begin, begin, begin + 1 + count);
    if (ends_after_area)
        end_of_message_ = egptr();
    return c;
}

void comio_buf::drain()
{
    scope_exit reset([this] {
        reset_get_area();
        end_of_message_ = nullptr;
    });
    if (eback() == egptr() || egptr() == end_of_message_)
        return;
    in_buffer_.resize(in_size_);
    drain_message(*session_.Get());
}

void comio_buf::discard_input()
{
    recording([this] { drain(); });
}

void comio_buf::set_input_size(long size)
{
    std::vector<unsigned char> fresh;
    recording([&] { fresh = allocate_buffer(static_cast<std::size_t>(size)); });
    discard_input();
    in_size_ = static_cast<std::uint32_t>(size);
    in_buffer_ = std::move(fresh);
    reset_get_area();
}

int comio_buf::sync()
{
    flush_output();
    discard_input();
    return 0;
}

} // namespace morvane
