#pragma once
// A connection that carries bytes both ways with no framing of its own (a TCP socket, a serial
// line), each wait bounded by a deadline: what a stream session reads and writes through.
#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace morvane::stream {

using deadline = std::chrono::steady_clock::time_point;

// What went wrong, with a text for the error information.
struct failure {
    enum kind_t { timed_out, lost, unreachable } kind;
    std::wstring text;
};

class byte_stream {
public:
    virtual ~byte_stream() = default;

    // Sends every byte, or throws failure (timed_out or lost).
    virtual void send_all(const unsigned char* bytes, std::size_t count, deadline until) = 0;
    // Receives into `to` (not empty) what arrives next, at least one byte; returns how many,
    // or throws failure.
    virtual std::size_t receive_into(std::span<unsigned char> to, deadline until) = 0;
    // Appends what arrives next to `to` (at least one byte), or throws failure.
    void receive(std::vector<unsigned char>& to, deadline until)
    {
        unsigned char chunk[64 * 1024];
        to.insert(to.end(), chunk, chunk + receive_into(chunk, until));
    }
    // A device clear: what the line's own buffers hold goes (a socket has none of its own).
    virtual void purge() {}
};

} // namespace morvane::stream
