#include "portmapper_service.hpp"

#include <ws2tcpip.h>
#include <chrono>
#include <thread>
#include "oncrpc/portmapper.hpp"
#include "oncrpc/rpc_connection.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::instrument_server {
namespace {

using transport::unique_socket;

oncrpc::mapping core_channel(unsigned short port)
{
    return {vxi11::core::program, vxi11::core::version, oncrpc::portmapper::tcp, port};
}

void serve_tcp_client(SOCKET client, unsigned short core_port)
{
    oncrpc::rpc_connection connection(client, 4096);
    while (const auto call = connection.receive()) {
        auto reply = oncrpc::portmapper_reply(*call, core_channel(core_port));
        if (!reply || !connection.send(*reply))
            break;
    }
}

} // namespace

portmapper_service::portmapper_service(const std::string& address, unsigned port, unsigned short core_port)
    : m_core_port(core_port)
{
    // A free TCP port may be taken for UDP: a few tries find one free for both.
    for (int attempt = 0; attempt < (port ? 1 : 8) && !*this; ++attempt) {
        m_tcp.emplace(address, port, 8);
        if (*m_tcp)
            m_udp = transport::bound_socket(address, m_tcp->port(), SOCK_DGRAM);
    }
}

void portmapper_service::start(connection_slots& slots)
{
    std::thread([this, &slots] {
        for (;;) {
            unique_socket client = m_tcp->accept();
            if (client)
                slots.serve(client.release(), [this](SOCKET accepted) { serve_tcp_client(accepted, m_core_port); });
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // a failing accept does not spin
        }
    }).detach();
    std::thread([this] {
        unsigned char datagram[1500];
        for (;;) {
            sockaddr_storage from{};
            int from_size = sizeof from;
            const int n = recvfrom(m_udp.get(), reinterpret_cast<char*>(datagram), sizeof datagram, 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
            if (n <= 0)
                continue;
            if (const auto reply = oncrpc::portmapper_reply(std::span(datagram, static_cast<std::size_t>(n)),
                                                            core_channel(m_core_port))) {
                const auto bytes = reply->message();
                sendto(m_udp.get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                       reinterpret_cast<const sockaddr*>(&from), from_size);
            }
        }
    }).detach();
}

} // namespace morvane::instrument_server
