#pragma once
// The service requests a session received and its client has not taken yet. Requests come on
// the protocol's threads and the client waits on its own, so every member takes the lock. The
// queue is bounded: past `capacity` the oldest request is dropped and counted, so that an
// instrument that requests faster than its client reads costs no more than that.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

namespace morvane::events {

class service_request_queue {
public:
    static constexpr std::size_t capacity = 64;
    enum class waited { got, timed_out, disabled };

    // Disabling wakes the waiters, which then fail as disabled; what is queued stays.
    void enable(bool on);
    bool enabled();
    // Queues the status byte of a request while enabled; false when disabled (nothing queued).
    bool push(short status_byte);
    // The oldest request's status byte, waiting up to `timeout` for one.
    waited wait(std::chrono::milliseconds timeout, short& status_byte);
    // Empties the queue and zeroes the count of dropped requests.
    void discard();
    long queued();
    long dropped();

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<short> m_requests;
    long m_dropped = 0;
    bool m_enabled = false;
};

} // namespace morvane::events
