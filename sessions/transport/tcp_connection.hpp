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
#include "byte_stream.hpp"
#include "transport/winsock.hpp"

namespace morvane::transport {

using deadline = stream::deadline;
using tcp_failure = stream::failure;

class tcp_connection final : public stream::byte_stream {
public:
    // Tries every address that `host` resolves to; throws tcp_failure (unreachable).
    tcp_connection(const std::string& host, const std::string& port, deadline until);
    tcp_connection(const tcp_connection&) = delete;
    tcp_connection& operator=(const tcp_connection&) = delete;

    void send_all(const unsigned char* bytes, std::size_t count, deadline until) override;
    std::size_t receive_into(std::span<unsigned char> to, deadline until) override;
    // The local end's address (getsockname), for a peer that is to call back; throws tcp_failure.
    sockaddr_storage local_address() const;

private:
    // Waits until the socket can be read or written; false when the deadline passed first.
    bool wait(bool for_writing, deadline until);

    unique_socket m_socket;
};

} // namespace morvane::transport
