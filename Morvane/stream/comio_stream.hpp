#pragma once
// The input and output streams over a comio_buf. Each owns its buffer. The wrappers
// below absorb a buffer's exception into the bad state, as the standard operations do;
// the caller then reports the error that the buffer recorded.
#include <istream>
#include <memory>
#include <ostream>
#include "stream/byte_facets.hpp" // before any use of the streams' number facets instantiates them
#include "stream/comio_buf.hpp"

namespace morvane {

using byte_ios = std::basic_ios<unsigned char, byte_traits>;

// Raises a copy of the error that a failed stream's buffer recorded (the internal error when
// it recorded none).
[[noreturn]] void raise_recorded(const loc_com_error* recorded);

class basic_comistream : public std::basic_istream<unsigned char, byte_traits> {
public:
    explicit basic_comistream(std::unique_ptr<comio_buf> buffer);
    ~basic_comistream() override;

    comio_buf& buffer() const noexcept { return *m_buffer; }
    const loc_com_error* last_error() const noexcept { return m_buffer->last_error(); }

    // Discards the rest of the current message; the buffer's exception reaches the caller.
    int sync() { return m_buffer->pubsync(); }
    void set_input_size(long size);
    void discard_input();
    // The rest of the current message into `sink`; false when the stream has failed.
    bool read_message(message_sink& sink);

private:
    std::unique_ptr<comio_buf> m_buffer;
};

class basic_comostream : public std::basic_ostream<unsigned char, byte_traits> {
public:
    explicit basic_comostream(std::unique_ptr<comio_buf> buffer);
    ~basic_comostream() override;

    comio_buf& buffer() const noexcept { return *m_buffer; }
    const loc_com_error* last_error() const noexcept { return m_buffer->last_error(); }

    // Sends the pending output as the end of a message; the buffer's exception reaches the caller.
    void flush_with_end() { m_buffer->flush_with_end(); }
    void set_output_size(long size);
    void flush_output();
    // Writes the next `count` bytes of `source`, as write() does with bytes in memory.
    void write_from(byte_source& source, std::size_t count);
    // Writes the text, at most `most` bytes, that `format(char* to)` makes and whose length it
    // returns: straight into the put area where that has room, else as write() does.
    template<typename Format> void write_formatted(std::size_t most, Format&& format)
    {
        if (!good())
            return;
        const std::span<unsigned char> room = m_buffer->put_room();
        if (room.size() >= most) {
            m_buffer->advance(format(reinterpret_cast<char*>(room.data())));
            return;
        }
        char text[64];
        memory_source source({reinterpret_cast<const unsigned char*>(text), format(text)});
        write_from(source, source.size());
    }

private:
    std::unique_ptr<comio_buf> m_buffer;
};

} // namespace morvane
