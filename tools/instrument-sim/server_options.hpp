#pragma once
// The command line of instrument-sim.
#include <cstdint>
#include <optional>
#include <string>
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::instrument_server {

struct server_options {
    std::string address = "127.0.0.1";
    unsigned port = 5025;     // 0: any free port; with vxi11, the core channel's; 4880 with hislip
    bool vxi11 = false;       // VXI-11 (a portmapper and a core channel) instead of raw SCPI
    bool hislip = false;      // HiSLIP instead of raw SCPI
    bool overlapped = false;  // with hislip: the server prefers overlapped mode to synchronized
    unsigned serial_port = 0; // COM<n> instead of TCP; 0: none
    unsigned portmapper_port = oncrpc::portmapper::default_port;
    bool once = false;  // serve one connection, then stop
    double seconds = 0; // stop after this long; 0: never
    unsigned delay_ms = 0;
    std::size_t segment = 0;    // send responses in pieces of this many bytes; 0: whole
    std::size_t drop_after = 0; // close a connection after this many response bytes; 0: never
    std::uint32_t seed = 1;
    // Bounds for clients that never stop, never read or never go.
    unsigned max_connections = 32;      // at once; more are closed as they come
    double idle_seconds = 0;            // a client that sends nothing this long is closed; 0: never
    std::size_t memory_limit_mib = 512; // held for all clients (messages, responses, stored data)
};

// What one connection's instruments may hold in all, within the server's memory limit.
inline constexpr std::size_t connection_memory_limit = 128u << 20;

// None, with a message on stderr, when the command line is not understood.
std::optional<server_options> parse_options(int argc, char** argv);

} // namespace morvane::instrument_server
