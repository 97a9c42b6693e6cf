#pragma once
// The client's side of the VXI-11 interrupt channel: an ONC RPC server over TCP for program
// 0x0607B1 version 1, on a port of its own, that the device connects to and calls
// device_intr_srq on. The calls are one-way: nothing is ever sent back.
//
// Bounds: one thread; at most max_devices connections, a new one closing the oldest (a device
// that connects and never calls cannot keep the real one out); a call record of at most
// record_limit bytes, a larger one closing its connection, as does a record that is no call.
// Calls of another program or procedure, and device_intr_srq with another handle, are ignored.
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include "transport/tcp_listener.hpp"

namespace morvane::vxi11 {

class interrupt_channel {
public:
    static constexpr std::size_t max_devices = 4, record_limit = 1024;

    // Listens on the numeric `address` at a free port; `requested` is called on the channel's
    // thread for each device_intr_srq with `handle`, and must return at once.
    interrupt_channel(const std::string& address, std::vector<unsigned char> handle, std::function<void()> requested);
    // Stops within a tick of the thread's wait, its connections closed.
    ~interrupt_channel();
    interrupt_channel(const interrupt_channel&) = delete;
    interrupt_channel& operator=(const interrupt_channel&) = delete;

    // False when the listener could not be made: no thread runs then.
    bool listening() const noexcept { return static_cast<bool>(m_listener); }
    unsigned short port() const noexcept { return m_listener.port(); }

private:
    void serve();
    // Takes one call record; false when it is no call at all.
    bool take(const std::vector<unsigned char>& record) const;

    transport::tcp_listener m_listener;
    const std::vector<unsigned char> m_handle;
    const std::function<void()> m_requested;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace morvane::vxi11
