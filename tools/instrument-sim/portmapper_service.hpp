#pragma once
// A portmapper over TCP and UDP that knows one program: the VXI-11 core channel, on the port given.
#include <optional>
#include <string>
#include "connection_slots.hpp"
#include "transport/tcp_listener.hpp"

namespace morvane::instrument_server {

class portmapper_service {
public:
    // Binds TCP and UDP on the numeric `address` at `port` (0: one free for both); binds
    // nothing when either fails. Winsock must be started.
    portmapper_service(const std::string& address, unsigned port, unsigned short core_port);
    explicit operator bool() const noexcept { return m_udp && m_tcp && *m_tcp; }
    unsigned short port() const noexcept { return m_tcp ? m_tcp->port() : 0; }

    // Serves both in threads of their own, as long as the process runs; TCP clients take their
    // threads from `slots`.
    void start(connection_slots& slots);

private:
    std::optional<transport::tcp_listener> m_tcp;
    transport::unique_socket m_udp;
    unsigned short m_core_port;
};

} // namespace morvane::instrument_server
