#pragma once
// A thread that does one piece of work for each request, in turn: requests that come faster are
// counted, up to max_pending, and those past it are dropped, so a device that calls a hundred
// thousand times costs a count, not a queue, and at most max_pending runs once it stops.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace morvane::vxi11 {

class request_worker {
public:
    static constexpr unsigned max_pending = 64; // as many as a session's queue keeps
    // `work` runs on the worker's thread; `stopping` turns true when the worker is to end, so
    // that work that waits for something can give up.
    explicit request_worker(std::function<void(const std::atomic<bool>& stopping)> work);
    // Stops the thread, after the work in progress (which should look at `stopping`).
    ~request_worker();
    request_worker(const request_worker&) = delete;
    request_worker& operator=(const request_worker&) = delete;

    void request() noexcept;
    // Forgets the requests that wait (the work in progress goes on).
    void cancel() noexcept;

private:
    void run();

    const std::function<void(const std::atomic<bool>&)> m_work;
    std::mutex m_lock;
    std::condition_variable m_requested;
    unsigned m_pending = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace morvane::vxi11
