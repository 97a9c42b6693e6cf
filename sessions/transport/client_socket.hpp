#pragma once
// Waiting on a client's socket with bounds: a client that sends nothing, or goes while the
// server waits on its behalf, holds no thread for longer than it must.
#include <winsock2.h>
#include <chrono>
#include <cstddef>
#include <memory>
#include <span>

namespace morvane::transport {

// At most `size` bytes from the client; 0 once it went, the connection failed, or it sent
// nothing for `idle_seconds` (0: no limit).
std::size_t receive_from_client(SOCKET client, void* into, std::size_t size, double idle_seconds);

// Sends to the client without delay (TCP_NODELAY), each failing once the client has taken
// nothing for `idle_seconds` (0: no limit), so that a client that never reads frees its thread.
void prepare_client(SOCKET client, double idle_seconds);

// Sends every byte to the client (a blocking socket); false once a send fails.
bool send_to_client(SOCKET client, std::span<const unsigned char> bytes);

// A client's bytes, read ahead while the server waits on its behalf: the platform shows the end
// of a stream only once the bytes before it were read, so a client that sends its next request
// and then goes is seen to go only by reading that request. At most `ahead_limit` bytes are read
// ahead; past them the end cannot be seen before the wait is over.
class client_stream {
public:
    client_stream(SOCKET client, double idle_seconds, std::size_t ahead_limit = 64 << 10) noexcept
        : m_client(client), m_idle_seconds(idle_seconds), m_limit(ahead_limit)
    {}

    // At most `size` bytes, those read ahead first; 0 once the client went, the connection
    // failed, or it sent nothing for `idle_seconds` (0: no limit).
    std::size_t receive(void* into, std::size_t size);
    // Waits up to `wait` for the client to close the connection, reading ahead what it sends
    // meanwhile: true when it did (or the connection failed).
    bool closed_within(std::chrono::milliseconds wait);
    // Whether receive() has bytes read ahead, or the end behind them, to give.
    bool holds_ahead() const noexcept { return m_begin != m_end || m_ended; }

private:
    SOCKET m_client;
    double m_idle_seconds;
    std::size_t m_limit;
    std::unique_ptr<unsigned char[]> m_ahead; // made at the first read ahead
    std::size_t m_begin = 0, m_end = 0;       // its bytes not yet received
    bool m_ended = false;                     // the client went after them
};

} // namespace morvane::transport
