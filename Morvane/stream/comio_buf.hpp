#pragma once
// A byte stream buffer over one message session.
//
// Output collects bytes in a put area of out_size bytes; a full area goes to the session
// with END suppressed once more bytes follow, and flush_with_end sends the rest as the end of
// a message with exactly one final line feed. Input reads the session in_size bytes at a
// time and marks where the current message ends, so that one response reads as one stream
// with exactly one end-of-file, after which the next read starts the next response.
//
// Output goes to the session without a copy, as an array that describes the bytes where they
// lie: in the put area, or for whole chunks of bytes already in memory, in that memory.
// Input has a bulk path too: read_message hands the session's chunks over as they come.
//
// The standard stream machinery turns an exception from a buffer into a bad state, so the
// buffer records a copy of every error it raises (last_error) for the caller to report.
#include <windows.h>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <visacom.h>
#include <wrl/client.h>
#include "error/errors.hpp"
#include "stream/comio_char_traits.hpp"
#include "stream/session_calls.hpp"
#include "stream/transfer.hpp"

namespace morvane {

class comio_buf : public std::basic_streambuf<unsigned char, byte_traits> {
public:
    comio_buf(IMessage* session, std::uint32_t in_size, std::uint32_t out_size);
    ~comio_buf() override;
    comio_buf(const comio_buf&) = delete;
    comio_buf& operator=(const comio_buf&) = delete;

    // Sends the pending output as the final part of a message (message 115 when none is pending).
    void flush_with_end();
    // Drops unread input; reads and drops the rest of a message whose end has not been seen.
    void discard_input();
    // Sends the pending output with END suppressed; no session call when none is pending.
    void flush_output();
    // Sends the pending output (END suppressed), then replaces the output buffer.
    void set_output_size(long size);
    std::uint32_t output_size() const noexcept { return m_out_size; }
    // Discards input, then replaces the input buffer.
    void set_input_size(long size);
    std::uint32_t input_size() const noexcept { return m_in_size; }

    // Output of `count` bytes from `source`, as writing them one by one would send them.
    void put_from(byte_source& source, std::size_t count);
    // The free part of the put area, for text made in place, and taking what was made there.
    std::span<unsigned char> put_room() noexcept { return {pptr(), static_cast<std::size_t>(epptr() - pptr())}; }
    void advance(std::size_t count) noexcept { pbump(static_cast<int>(count)); }
    // The rest of the current message, up to its end-of-file, as reading it byte by byte would
    // take it; the end-of-file is taken too.
    void read_message(message_sink& sink);
    // The unread bytes of the input area, for a reader that scans them where they lie, and
    // taking the first `count` of them.
    std::span<const unsigned char> unread_area() const noexcept { return {gptr(), egptr()}; }
    void take(std::size_t count) noexcept { gbump(static_cast<int>(count)); }
    // Puts `bytes` back in front of the unread input, as putting them back one by one, last
    // first, would: stepping back over those still in the area and inserting the others.
    // False when one of them differs from the byte read before it.
    bool put_back(std::span<const unsigned char> bytes);

    const loc_com_error* last_error() const noexcept { return m_last_error.get(); }
    void set_last_error(const loc_com_error& error);
    void clear_last_error() noexcept { m_last_error.reset(); }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char_type* bytes, std::streamsize count) override;
    int_type underflow() override;
    int_type pbackfail(int_type c) override;
    int sync() override;

private:
    // Memory that is allocated but not touched until it is written.
    struct block {
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t size = 0;
    };
    static block allocate(std::size_t size);

    void send_pending(bool end_of_message);
    void send(const unsigned char* bytes, std::size_t count, bool end_allowed);
    void read_chunk();
    read_result read_usable_chunk();
    void drain();
    void reset_put_area() noexcept;
    void reset_get_area() noexcept;
    // Runs one step of the buffer and records the error that leaves it.
    template<typename Step> void recording(Step&& step);

    Microsoft::WRL::ComPtr<IMessage> m_session;
    std::uint32_t m_in_size;
    std::uint32_t m_out_size;
    block m_in_buffer;
    block m_out_buffer;              // one byte longer than the put area: room for the final line feed
    borrowed_byte_array m_out_array; // hands output to the session where it lies
    unsigned char* m_end_of_message = nullptr;
    std::unique_ptr<loc_com_error> m_last_error;
};

} // namespace morvane
