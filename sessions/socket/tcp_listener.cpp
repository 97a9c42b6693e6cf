#include "socket/tcp_listener.hpp"

#include <ws2tcpip.h>
#include <memory>

namespace morvane::socket_session {
namespace {

struct address_list_free {
    void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

SOCKET listen_on(const std::string& address, unsigned port, int backlog)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return INVALID_SOCKET;
    const std::unique_ptr<addrinfo, address_list_free> addresses(found);
    unique_socket listener(socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP));
    if (!listener || bind(listener.get(), found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 ||
        listen(listener.get(), backlog) != 0)
        return INVALID_SOCKET;
    return listener.release();
}

} // namespace

tcp_listener::tcp_listener(const std::string& address, unsigned port, int backlog)
    : socket_(listen_on(address, port, backlog))
{
    sockaddr_storage bound{};
    int size = sizeof bound;
    if (socket_ != INVALID_SOCKET && getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &size) == 0)
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

unique_socket tcp_listener::accept(std::optional<std::chrono::microseconds> within) const
{
    if (within) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket_, &ready);
        timeval wait{static_cast<long>(within->count() / 1000000), static_cast<long>(within->count() % 1000000)};
        if (select(0, &ready, nullptr, nullptr, &wait) != 1)
            return {};
    }
    return unique_socket(::accept(socket_, nullptr, nullptr));
}

void tcp_listener::close() noexcept
{
    if (socket_ != INVALID_SOCKET && !closed_.exchange(true))
        closesocket(socket_);
}

} // namespace morvane::socket_session
