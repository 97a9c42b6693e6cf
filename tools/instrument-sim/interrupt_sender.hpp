#pragma once
// The device's side of the VXI-11 interrupt channel, for one core connection: where its client
// listens (create_intr_chan), the links that have service requests enabled and their handles
// (device_enable_srq), and a thread that connects to the client and calls device_intr_srq, so
// that neither the core channel's thread nor the instrument's waits on the client.
//
// Bounds: one thread, started by the first channel; one connection to the client, kept for the
// calls after; a connect or a send that takes longer than call_time drops that call and the
// connection (the next call connects again); at most max_waiting calls wait to be sent, requests
// past them dropped.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace morvane::instrument_server {

class interrupt_sender {
public:
    static constexpr std::chrono::milliseconds call_time{1000};
    static constexpr std::size_t max_waiting = 64;

    struct channel {
        std::uint32_t address = 0; // IPv4, host order, as create_intr_chan gives it
        std::uint16_t port = 0;
        std::uint32_t program = 0, version = 0;
    };

    interrupt_sender() = default;
    // Stops the thread after the call in progress (call_time at most).
    ~interrupt_sender();
    interrupt_sender(const interrupt_sender&) = delete;
    interrupt_sender& operator=(const interrupt_sender&) = delete;

    // False when a channel is there already.
    bool open(const channel& where);
    // False when there is none; the connection to the client closes.
    bool close();
    // A link's service requests on, with the handle that its calls carry, or off.
    void enable(std::int32_t link, bool on, std::span<const unsigned char> handle);
    // The link's instrument requests service: a call is sent when the link has them enabled
    // and a channel is open. Returns at once, from any thread.
    void raise(std::int32_t link);

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<channel> m_channel;
    std::uint64_t m_opened = 0; // channels opened so far: a new one is connected afresh
    std::map<std::int32_t, std::vector<unsigned char>> m_handles; // of the links with requests on
    std::deque<std::int32_t> m_waiting;                           // links whose call is to be sent
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace morvane::instrument_server
