#include "portmapper.hpp"

#include <ws2tcpip.h>
#include <chrono>
#include <thread>
#include "rpc_connection.hpp"
#include "vxi11/rpc_message.hpp"
#include "vxi11/vxi11_numbers.hpp"

namespace morvane::instrument_server {
namespace {

using namespace vxi11;
using transport::unique_socket;

void serve_tcp_client(SOCKET client, unsigned short core_port)
{
    static const server_options no_faults;
    rpc_connection connection(client, 4096, no_faults);
    while (const auto call = connection.receive()) {
        auto reply = portmapper_reply(*call, core_port);
        if (!reply || !connection.send(*reply))
            break;
    }
}

} // namespace

std::optional<xdr_writer> portmapper_reply(std::span<const unsigned char> message, unsigned short core_port)
{
    xdr_reader in(message);
    call_header call;
    try {
        call = get_call(in);
    } catch (const xdr_error&) {
        return std::nullopt;
    }
    xdr_writer out;
    if (call.rpc_version != rpc::version) {
        put_version_mismatch(out, call.xid);
        return out;
    }
    if (call.program != portmapper::program) {
        put_accepted_reply(out, call.xid, rpc::prog_unavail);
    } else if (call.version != portmapper::version) {
        put_accepted_reply(out, call.xid, rpc::prog_mismatch);
        out.put(portmapper::version); // lowest
        out.put(portmapper::version); // highest
    } else if (call.procedure == portmapper::null_proc) {
        put_accepted_reply(out, call.xid, rpc::success);
    } else if (call.procedure == portmapper::getport) {
        try {
            const std::uint32_t program = in.get(), version = in.get(), protocol = in.get();
            put_accepted_reply(out, call.xid, rpc::success);
            const bool core = program == core::program && version == core::version && protocol == portmapper::tcp;
            out.put(core ? core_port : 0);
        } catch (const xdr_error&) {
            out = xdr_writer();
            put_accepted_reply(out, call.xid, rpc::garbage_args);
        }
    } else {
        put_accepted_reply(out, call.xid, rpc::proc_unavail);
    }
    return out;
}

portmapper_service::portmapper_service(const std::string& address, unsigned port, unsigned short core_port) : core_port_(core_port)
{
    // A free TCP port may be taken for UDP: a few tries find one free for both.
    for (int attempt = 0; attempt < (port ? 1 : 8) && !*this; ++attempt) {
        tcp_.emplace(address, port, 8);
        if (*tcp_)
            udp_ = transport::bound_socket(address, tcp_->port(), SOCK_DGRAM);
    }
}

void portmapper_service::start(connection_slots& slots)
{
    std::thread([this, &slots] {
        for (;;) {
            unique_socket client = tcp_->accept();
            if (client)
                slots.serve(client.release(), [this](SOCKET accepted) { serve_tcp_client(accepted, core_port_); });
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // a failing accept does not spin
        }
    }).detach();
    std::thread([this] {
        unsigned char datagram[1500];
        for (;;) {
            sockaddr_storage from{};
            int from_size = sizeof from;
            const int n = recvfrom(udp_.get(), reinterpret_cast<char*>(datagram), sizeof datagram, 0,
                                   reinterpret_cast<sockaddr*>(&from), &from_size);
            if (n <= 0)
                continue;
            if (const auto reply = portmapper_reply(std::span(datagram, static_cast<std::size_t>(n)), core_port_)) {
                const auto bytes = reply->message();
                sendto(udp_.get(), reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()), 0,
                       reinterpret_cast<const sockaddr*>(&from), from_size);
            }
        }
    }).detach();
}

} // namespace morvane::instrument_server
