#include "events/service_request_queue.hpp"

namespace morvane::events {

void service_request_queue::enable(bool on)
{
    {
        const std::lock_guard guard(m_lock);
        m_enabled = on;
    }
    m_changed.notify_all();
}

bool service_request_queue::enabled()
{
    const std::lock_guard guard(m_lock);
    return m_enabled;
}

bool service_request_queue::push(short status_byte)
{
    {
        const std::lock_guard guard(m_lock);
        if (!m_enabled)
            return false;
        if (m_requests.size() == capacity) {
            m_requests.pop_front();
            ++m_dropped;
        }
        m_requests.push_back(status_byte);
    }
    m_changed.notify_all();
    return true;
}

service_request_queue::waited service_request_queue::wait(std::chrono::milliseconds timeout, short& status_byte)
{
    std::unique_lock guard(m_lock);
    m_changed.wait_for(guard, timeout, [this] { return !m_enabled || !m_requests.empty(); });
    if (!m_enabled)
        return waited::disabled;
    if (m_requests.empty())
        return waited::timed_out;
    status_byte = m_requests.front();
    m_requests.pop_front();
    return waited::got;
}

void service_request_queue::discard()
{
    const std::lock_guard guard(m_lock);
    m_requests.clear();
    m_dropped = 0;
}

long service_request_queue::queued()
{
    const std::lock_guard guard(m_lock);
    return static_cast<long>(m_requests.size());
}

long service_request_queue::dropped()
{
    const std::lock_guard guard(m_lock);
    return m_dropped;
}

} // namespace morvane::events
