#include "transport/tcp_listener.hpp"

#include <ws2tcpip.h>
#include <algorithm>

namespace morvane::transport {
namespace {

unique_socket listen_on(const std::string& address, unsigned port, int backlog)
{
    unique_socket listener = bound_socket(address, port, SOCK_STREAM);
    if (listener && listen(listener.get(), backlog) != 0)
        return {};
    return listener;
}

} // namespace

unique_socket bound_socket(const std::string& address, unsigned port, int type)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return {};
    const unique_address_list addresses(found);
    unique_socket bound(socket(found->ai_family, type, type == SOCK_DGRAM ? IPPROTO_UDP : IPPROTO_TCP));
    if (!bound || bind(bound.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0)
        return {};
    return bound;
}

tcp_listener::tcp_listener(const std::string& address, unsigned port, int backlog)
    : m_socket(listen_on(address, port, backlog))
{
    sockaddr_storage bound{};
    int size = sizeof bound;
    if (m_socket && getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&bound), &size) == 0)
        m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                   : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

unique_socket tcp_listener::accept(std::optional<std::chrono::microseconds> within) const
{
    // Waits in ticks, so that a stop from another thread is seen.
    constexpr std::chrono::microseconds tick(20000);
    const auto end = std::chrono::steady_clock::now() + within.value_or(std::chrono::microseconds(0));
    while (!m_stopped) {
        std::chrono::microseconds wait = tick;
        if (within) {
            const auto left =
                std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return {};
            wait = std::min(wait, left);
        }
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(m_socket.get(), &ready);
        timeval left{static_cast<long>(wait.count() / 1000000), static_cast<long>(wait.count() % 1000000)};
        const int count = select(0, &ready, nullptr, nullptr, &left);
        if (count == SOCKET_ERROR)
            return {};
        if (count == 1)
            return unique_socket(::accept(m_socket.get(), nullptr, nullptr));
    }
    return {};
}

} // namespace morvane::transport
