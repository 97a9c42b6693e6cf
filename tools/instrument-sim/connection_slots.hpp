#pragma once
// The clients served at once, each on a thread of its own: a bounded number, shared by every
// listener of the server, so that connections that never go cannot pile up threads.
#include <winsock2.h>
#include <atomic>
#include <functional>

namespace morvane::instrument_server {

class connection_slots {
public:
    explicit connection_slots(unsigned most) noexcept : m_most(most) {}

    // Serves `client` with `serve` on a thread of its own, with COM started there, when a slot is
    // free; else closes it at once. `serve` closes the socket.
    void serve(SOCKET client, std::function<void(SOCKET)> serve);
    unsigned in_use() const noexcept { return m_in_use; }

private:
    const unsigned m_most;
    std::atomic<unsigned> m_in_use{0};
};

} // namespace morvane::instrument_server
