#pragma once
// One non-blocking TCP connection whose every wait is bounded by a deadline.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <chrono>
#include <cstddef>
#include <span>
#include <string>
#include <vector>
#include "transport/winsock.hpp"

namespace morvane::transport {

using deadline = std::chrono::steady_clock::time_point;

// What went wrong, with a text for the error information.
struct tcp_failure {
    enum kind_t { timed_out, lost, unreachable } kind;
    std::wstring text;
};

class tcp_connection {
public:
    // Tries every address that `host` resolves to; throws tcp_failure (unreachable).
    tcp_connection(const std::string& host, const std::string& port, deadline until);
    tcp_connection(const tcp_connection&) = delete;
    tcp_connection& operator=(const tcp_connection&) = delete;

    // Sends every byte, or throws tcp_failure (timed_out or lost).
    void send_all(const unsigned char* bytes, std::size_t count, deadline until);
    // Appends what arrives next to `to` (at least one byte), or throws tcp_failure.
    void receive(std::vector<unsigned char>& to, deadline until);
    // Receives into `to` (not empty) what arrives next, at least one byte; returns how many,
    // or throws tcp_failure.
    std::size_t receive_into(std::span<unsigned char> to, deadline until);
    // The local end's address (getsockname), for a peer that is to call back; throws tcp_failure.
    sockaddr_storage local_address() const;

private:
    // Waits until the socket can be read or written; false when the deadline passed first.
    bool wait(bool for_writing, deadline until);

    unique_socket m_socket;
};

} // namespace morvane::transport
