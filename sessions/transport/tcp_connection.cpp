#include "transport/tcp_connection.hpp"

#include <algorithm>
#include "platform/system_message.hpp"
#include "transport/socket_wait.hpp"

namespace morvane::transport {
tcp_connection::tcp_connection(const std::string& host, const std::string& port, deadline until)
{
    static const winsock_use started;
    if (started.error() != 0)
        throw tcp_failure{tcp_failure::unreachable, L"Winsock could not be started"};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    if (const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found); error != 0)
        throw tcp_failure{tcp_failure::unreachable,
                          L"The host name could not be resolved: " + system_clause(static_cast<DWORD>(error))};
    const unique_address_list addresses(found);
    int last_error = WSAETIMEDOUT;
    for (const addrinfo* address = found; address; address = address->ai_next) {
        m_socket.reset(::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
        u_long non_blocking = 1;
        if (!m_socket || ioctlsocket(m_socket.get(), FIONBIO, &non_blocking) != 0) {
            last_error = WSAGetLastError();
        } else if (connect(m_socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0 ||
                   (WSAGetLastError() == WSAEWOULDBLOCK && wait(true, until))) {
            int error = 0;
            int size = sizeof error;
            getsockopt(m_socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
            if (error == 0) {
                BOOL no_delay = TRUE;
                setsockopt(m_socket.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay),
                           sizeof no_delay);
                return;
            }
            last_error = error;
        } else {
            last_error = WSAGetLastError() == WSAEWOULDBLOCK ? WSAETIMEDOUT : WSAGetLastError();
        }
        m_socket.reset();
    }
    throw tcp_failure{tcp_failure::unreachable, L"Could not connect to " + std::wstring(host.begin(), host.end()) +
                                                    L" port " + std::wstring(port.begin(), port.end()) + L": " +
                                                    system_clause(static_cast<DWORD>(last_error))};
}

sockaddr_storage tcp_connection::local_address() const
{
    sockaddr_storage address{};
    int size = sizeof address;
    if (getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw tcp_failure{tcp_failure::lost, L"The connection's local address is unknown: " +
                                                 system_clause(static_cast<DWORD>(WSAGetLastError()))};
    return address;
}

bool tcp_connection::wait(bool for_writing, deadline until)
{
    const socket_state state = wait_for_socket(m_socket.get(), for_writing, until);
    if (state == socket_state::failed)
        throw tcp_failure{tcp_failure::lost,
                          L"The connection failed: " + system_clause(static_cast<DWORD>(WSAGetLastError()))};
    return state == socket_state::ready;
}

void tcp_connection::send_all(const unsigned char* bytes, std::size_t count, deadline until)
{
    while (count > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 30));
        const int sent = send(m_socket.get(), reinterpret_cast<const char*>(bytes), chunk, 0);
        if (sent > 0) {
            bytes += sent;
            count -= static_cast<std::size_t>(sent);
        } else if (WSAGetLastError() != WSAEWOULDBLOCK) {
            throw tcp_failure{tcp_failure::lost,
                              L"The connection was lost: " + system_clause(static_cast<DWORD>(WSAGetLastError()))};
        } else if (!wait(true, until)) {
            throw tcp_failure{tcp_failure::timed_out, L"Timeout expired before operation completed."};
        }
    }
}

std::size_t tcp_connection::receive_into(std::span<unsigned char> to, deadline until)
{
    for (;;) {
        const int received = recv(m_socket.get(), reinterpret_cast<char*>(to.data()),
                                  static_cast<int>(std::min<std::size_t>(to.size(), 1 << 30)), 0);
        if (received > 0)
            return static_cast<std::size_t>(received);
        if (received == 0)
            throw tcp_failure{tcp_failure::lost, L"The connection was closed by the instrument."};
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            throw tcp_failure{tcp_failure::lost,
                              L"The connection was lost: " + system_clause(static_cast<DWORD>(WSAGetLastError()))};
        if (!wait(false, until))
            throw tcp_failure{tcp_failure::timed_out, L"Timeout expired before operation completed."};
    }
}

} // namespace morvane::transport
