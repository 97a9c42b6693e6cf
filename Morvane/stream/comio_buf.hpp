#pragma once
// A byte stream buffer over one message session.
//
// Output collects bytes in a put area of out_size bytes; a full area goes to the session
// with END suppressed, and flush_with_end sends the rest as the end of a message with
// exactly one final line feed. Input reads the session in_size bytes at a time and marks
// where the current message ends, so that one response reads as one stream with exactly
// one end-of-file, after which the next read starts the next response.
//
// The standard stream machinery turns an exception from a buffer into a bad state, so the
// buffer records a copy of every error it raises (last_error) for the caller to report.
#include <windows.h>
#include <cstdint>
#include <memory>
#include <streambuf>
#include <vector>
#include <visacom.h>
#include <wrl/client.h>
#include "error/errors.hpp"
#include "stream/comio_char_traits.hpp"

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
    std::uint32_t output_size() const noexcept { return out_size_; }
    // Discards input, then replaces the input buffer.
    void set_input_size(long size);
    std::uint32_t input_size() const noexcept { return in_size_; }

    const loc_com_error* last_error() const noexcept { return last_error_.get(); }
    void set_last_error(const loc_com_error& error);
    void clear_last_error() noexcept { last_error_.reset(); }

protected:
    int_type overflow(int_type c) override;
    int_type underflow() override;
    int_type pbackfail(int_type c) override;
    int sync() override;

private:
    void send_pending(bool end_of_message);
    void read_chunk();
    void drain();
    void reset_put_area() noexcept;
    void reset_get_area() noexcept;
    static std::vector<unsigned char> allocate_buffer(std::size_t size);
    // Runs one step of the buffer and records the error that leaves it.
    template <typename Step>
    void recording(Step&& step);

    Microsoft::WRL::ComPtr<IMessage> session_;
    std::uint32_t in_size_;
    std::uint32_t out_size_;
    std::vector<unsigned char> in_buffer_;
    std::vector<unsigned char> out_buffer_;
    unsigned char* end_of_message_ = nullptr;
    std::unique_ptr<loc_com_error> last_error_;
};

} // namespace morvane
