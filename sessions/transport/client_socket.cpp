#include "transport/client_socket.hpp"

#include <algorithm>
#include <cstring>
#include "transport/socket_wait.hpp"

namespace morvane::transport {
namespace {

// Readable within `wait` (bytes or the end of the stream), or the wait failed: true.
bool readable_within(SOCKET client, std::chrono::steady_clock::time_point until)
{
    return wait_for_socket(client, false, until) != socket_state::time_passed;
}

} // namespace

void prepare_client(SOCKET client, double idle_seconds)
{
    BOOL no_delay = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    if (idle_seconds > 0) {
        const DWORD milliseconds = static_cast<DWORD>(std::min(idle_seconds * 1000, 4e9));
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds);
    }
}

std::size_t receive_from_client(SOCKET client, void* into, std::size_t size, double idle_seconds)
{
    using std::chrono::steady_clock;
    const auto until =
        idle_seconds > 0
            ? steady_clock::now() + std::chrono::microseconds(static_cast<long long>(std::min(idle_seconds, 1e9) * 1e6))
            : steady_clock::time_point::max();
    if (!readable_within(client, until))
        return 0;
    const int n = recv(client, static_cast<char*>(into), static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool send_to_client(SOCKET client, std::span<const unsigned char> bytes)
{
    while (!bytes.empty()) {
        const int n = ::send(client, reinterpret_cast<const char*>(bytes.data()),
                             static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)), 0);
        if (n <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

std::size_t client_stream::receive(void* into, std::size_t size)
{
    if (m_begin == m_end)
        return m_ended ? 0 : receive_from_client(m_client, into, size, m_idle_seconds);
    const std::size_t count = std::min(size, m_end - m_begin);
    std::memcpy(into, m_ahead.get() + m_begin, count);
    m_begin += count;
    return count;
}

bool client_stream::closed_within(std::chrono::milliseconds wait)
{
    const auto until = std::chrono::steady_clock::now() + wait;
    if (!m_ahead)
        m_ahead = std::make_unique_for_overwrite<unsigned char[]>(m_limit);
    std::memmove(m_ahead.get(), m_ahead.get() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
    while (!m_ended) {
        if (m_end == m_limit || !readable_within(m_client, until))
            return false;
        const int n = recv(m_client, reinterpret_cast<char*>(m_ahead.get() + m_end),
                           static_cast<int>(std::min<std::size_t>(m_limit - m_end, 1 << 20)), 0);
        if (n > 0)
            m_end += static_cast<std::size_t>(n);
        else
            m_ended = true;
    }
    return true;
}

} // namespace morvane::transport
