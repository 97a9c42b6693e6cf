#pragma once
// The bare client of the socket cases: blocking sends, select and recv, into memory the
// caller gives.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <algorithm>
#include <cstring>
#include <string_view>
#include "transport/winsock.hpp"

class bare_client {
public:
    explicit bare_client(unsigned short port) : m_socket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        connect(m_socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        BOOL no_delay = TRUE;
        setsockopt(m_socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
    }

    void send_line(const char* text) { send_all(std::string_view(text, std::strlen(text))); }
    void send_all(std::string_view bytes)
    {
        for (int n; !bytes.empty() && (n = send(m_socket.get(), bytes.data(), static_cast<int>(bytes.size()), 0)) > 0;)
            bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    // Receives into `to` until `count` bytes, or a line feed when `line`; gives up when
    // nothing comes for `wait_seconds`.
    std::size_t receive(char* to, std::size_t count, bool line, long wait_seconds = 2)
    {
        std::size_t got = 0;
        while (got < count) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(m_socket.get(), &ready);
            timeval wait{wait_seconds, 0};
            if (select(0, &ready, nullptr, nullptr, &wait) != 1)
                break;
            const int chunk = static_cast<int>(std::min<std::size_t>(count - got, 1 << 20));
            const int n = recv(m_socket.get(), to + got, chunk, 0);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
            if (line && to[got - 1] == '\n')
                break;
        }
        return got;
    }

private:
    morvane::transport::unique_socket m_socket;
};
