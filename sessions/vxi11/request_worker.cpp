#include "vxi11/request_worker.hpp"

namespace morvane::vxi11 {

request_worker::request_worker(std::function<void(const std::atomic<bool>& stopping)> work)
    : m_work(std::move(work)), m_thread([this] { run(); })
{}

request_worker::~request_worker()
{
    {
        const std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_requested.notify_one();
    m_thread.join();
}

void request_worker::request() noexcept
{
    {
        const std::lock_guard guard(m_lock);
        if (m_pending == max_pending)
            return;
        ++m_pending;
    }
    m_requested.notify_one();
}

void request_worker::cancel() noexcept
{
    const std::lock_guard guard(m_lock);
    m_pending = 0;
}

void request_worker::run()
{
    std::unique_lock guard(m_lock);
    for (;;) {
        m_requested.wait(guard, [this] { return m_pending > 0 || m_stopping; });
        if (m_stopping)
            return;
        --m_pending;
        guard.unlock();
        m_work(m_stopping);
        guard.lock();
    }
}

} // namespace morvane::vxi11
