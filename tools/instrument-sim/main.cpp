// instrument-sim: the simulated instrument served over TCP, one simulated session per
// connection (raw SCPI), per link (VXI-11) or per session (HiSLIP), or on a serial line.
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include "connection.hpp"
#include "connection_slots.hpp"
#include "core_channel.hpp"
#include "hislip_server.hpp"
#include "platform/com_apartment.hpp"
#include "portmapper_service.hpp"
#include "serial_line.hpp"
#include "server_options.hpp"
#include "transport/tcp_listener.hpp"

using namespace morvane::instrument_server;
using morvane::sim::memory_budget;
using morvane::transport::tcp_listener;
using morvane::transport::unique_socket;
using morvane::transport::winsock_use;

int main(int argc, char** argv)
{
    const auto options = parse_options(argc, argv);
    if (!options)
        return 2;
    const winsock_use winsock;
    const morvane::com_apartment com(COINIT_MULTITHREADED);
    if (winsock.error() != 0 || FAILED(com.result()))
        return 1;
    if (options->serial_port)
        return serve_serial_line(*options);
    tcp_listener listener(options->address, options->port, 8);
    connection_slots slots(options->max_connections);
    if (!listener) {
        std::fprintf(stderr, "instrument-sim: cannot listen on %s port %u\n", options->address.c_str(), options->port);
        return 1;
    }
    std::optional<portmapper_service> mapper;
    if (options->vxi11) {
        mapper.emplace(options->address, options->portmapper_port, listener.port());
        if (!*mapper) {
            std::fprintf(stderr,
                         "instrument-sim: cannot bind the portmapper on %s port %u (TCP and UDP); "
                         "choose another with --portmapper-port\n",
                         options->address.c_str(), options->portmapper_port);
            return 1;
        }
        mapper->start(slots);
        std::printf("%u %u\n", listener.port(), mapper->port()); // the core channel's port first
    } else {
        std::printf("%u\n", listener.port());
    }
    std::fflush(stdout);
    const auto serve = options->vxi11    ? serve_core_connection
                       : options->hislip ? serve_hislip_connection
                                         : serve_connection;
    const auto memory = std::make_shared<memory_budget>(options->memory_limit_mib << 20);
    // Each connection's instruments hold what their client leaves them within a budget of its own.
    const auto serve_with_budget = [&options, &memory, serve](SOCKET client) {
        serve(client, *options, std::make_shared<memory_budget>(connection_memory_limit, memory));
    };

    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (options->seconds > 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(options->seconds))
            break;
        // The time limit is looked at ten times a second.
        unique_socket accepted = listener.accept(std::chrono::milliseconds(100));
        if (!accepted)
            continue;
        if (options->once) {
            serve_with_budget(accepted.release()); // the connection closes it
            break;
        }
        slots.serve(accepted.release(), serve_with_budget);
    }
    // Connections still open when time is up are ended with the process.
    std::fflush(stdout);
    ExitProcess(0);
}
