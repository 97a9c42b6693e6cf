#pragma once
// Winsock for the socket code: its use from startup to cleanup, and sockets and address
// lists that free themselves.
#include <winsock2.h>
#include <ws2tcpip.h>
#include "platform/unique_any.hpp"

namespace morvane::transport {

using unique_socket = unique_any<SOCKET, &closesocket, INVALID_SOCKET>;
// What getaddrinfo found.
using unique_address_list = unique_any<addrinfo*, &freeaddrinfo>;

class winsock_use {
public:
    winsock_use() noexcept
    {
        WSADATA data;
        error_ = WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~winsock_use()
    {
        if (error_ == 0)
            WSACleanup();
    }
    winsock_use(const winsock_use&) = delete;
    winsock_use& operator=(const winsock_use&) = delete;

    // The startup's error code, 0 when Winsock is ready.
    int error() const noexcept { return error_; }

private:
    int error_;
};

} // namespace morvane::transport
