// instrument-sim: the simulated instrument served over TCP, one simulated session per connection.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <objbase.h>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>
#include "connection.hpp"
#include "server_options.hpp"

using namespace morvane::instrument_server;

namespace {

SOCKET listen_on(const server_options& options, unsigned short& port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    addrinfo* found = nullptr;
    if (getaddrinfo(options.address.c_str(), std::to_string(options.port).c_str(), &hints, &found) != 0 || !found)
        return INVALID_SOCKET;
    SOCKET listener = socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (listener != INVALID_SOCKET &&
        (bind(listener, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0 || listen(listener, 8) != 0)) {
        closesocket(listener);
        listener = INVALID_SOCKET;
    }
    freeaddrinfo(found);
    sockaddr_storage bound{};
    int size = sizeof bound;
    if (listener != INVALID_SOCKET && getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &size) == 0)
        port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                 : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return listener;
}

} // namespace

int main(int argc, char** argv)
{
    const auto options = parse_options(argc, argv);
    if (!options)
        return 2;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0 || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 1;
    unsigned short port = 0;
    const SOCKET listener = listen_on(*options, port);
    if (listener == INVALID_SOCKET) {
        std::fprintf(stderr, "instrument-sim: cannot listen on %s port %u\n", options->address.c_str(), options->port);
        return 1;
    }
    std::printf("%u\n", port);
    std::fflush(stdout);

    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> connections;
    for (;;) {
        if (options->seconds > 0 &&
            std::chrono::steady_clock::now() - start >= std::chrono::duration<double>(options->seconds))
            break;
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener, &ready);
        timeval tick{0, 100000}; // the time limit is looked at ten times a second
        if (select(0, &ready, nullptr, nullptr, &tick) != 1)
            continue;
        const SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        if (options->once) {
            serve_connection(client, *options);
            break;
        }
        connections.emplace_back([client, &options] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            serve_connection(client, *options);
            CoUninitialize();
        });
    }
    closesocket(listener);
    // Connections still open when time is up are ended with the process.
    for (std::thread& connection : connections)
        connection.detach();
    std::fflush(stdout);
    ExitProcess(0);
}
