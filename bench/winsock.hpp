#pragma once
// Winsock for the socket cases: its use from startup to cleanup, and sockets that close
// themselves.
#include <winsock2.h>
#include "measure.hpp"
#include "platform/unique_any.hpp"

using unique_socket = morvane::unique_any<SOCKET, &closesocket, INVALID_SOCKET>;

class winsock_use {
public:
    winsock_use()
    {
        WSADATA data;
        if (const int error = WSAStartup(MAKEWORD(2, 2), &data); error != 0)
            check(HRESULT_FROM_WIN32(static_cast<DWORD>(error)), "WSAStartup");
    }
    ~winsock_use() { WSACleanup(); }
    winsock_use(const winsock_use&) = delete;
    winsock_use& operator=(const winsock_use&) = delete;
};
