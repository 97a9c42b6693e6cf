#pragma once
// A listening TCP socket on a local address, for the servers that the tests, the benchmark and
// instrument-sim run: bound, listening, its port known, handing out the connections it accepts.
#include <winsock2.h>
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include "transport/winsock.hpp"

namespace morvane::transport {

// A socket of `type` (SOCK_STREAM or SOCK_DGRAM) bound to the numeric `address` at `port`, 0 for
// any free one; none when that fails.
unique_socket bound_socket(const std::string& address, unsigned port, int type);

class tcp_listener {
public:
    // Listens on the numeric `address` (IPv4 or IPv6) at `port`, 0 for any free one, with
    // `backlog` connections waiting; listens on nothing when that fails. Winsock must be started.
    explicit tcp_listener(const std::string& address = "127.0.0.1", unsigned port = 0, int backlog = 1);
    tcp_listener(const tcp_listener&) = delete;
    tcp_listener& operator=(const tcp_listener&) = delete;

    explicit operator bool() const noexcept { return static_cast<bool>(m_socket); }
    // The port it listens on.
    unsigned short port() const noexcept { return m_port; }
    // The listening socket, for a server that waits on it beside its clients in one select.
    SOCKET handle() const noexcept { return m_socket.get(); }

    // The next connection, waiting no longer than `within` when given; nothing when that time
    // passed first, the accept failed or the listener was stopped.
    unique_socket accept(std::optional<std::chrono::microseconds> within = std::nullopt) const;

    // Accepts nothing more: an accept that waits in another thread returns nothing within a
    // tick. The socket itself closes with the listener, so that no thread reads a handle that
    // changes under it.
    void stop() noexcept { m_stopped = true; }

private:
    const unique_socket m_socket;
    unsigned short m_port = 0;
    std::atomic<bool> m_stopped{false};
};

} // namespace morvane::transport
