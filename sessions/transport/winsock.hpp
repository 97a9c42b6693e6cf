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
        m_error = WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~winsock_use()
    {
        if (m_error == 0)
            WSACleanup();
    }
    winsock_use(const winsock_use&) = delete;
    winsock_use& operator=(const winsock_use&) = delete;

    // The startup's error code, 0 when Winsock is ready.
    int error() const noexcept { return m_error; }

private:
    int m_error;
};

} // namespace morvane::transport
