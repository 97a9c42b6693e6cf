#pragma once
// The command line of instrument-sim.
#include <cstdint>
#include <optional>
#include <string>

namespace morvane::instrument_server {

struct server_options {
    std::string address = "127.0.0.1";
    unsigned port = 5025; // 0: any free port; with vxi11, the core channel's
    bool vxi11 = false;   // VXI-11 (a portmapper and a core channel) instead of raw SCPI
    unsigned portmapper_port = 111;
    bool once = false;   // serve one connection, then stop
    double seconds = 0;  // stop after this long; 0: never
    unsigned delay_ms = 0;
    std::size_t segment = 0;    // send responses in pieces of this many bytes; 0: whole
    std::size_t drop_after = 0; // close a connection after this many response bytes; 0: never
    std::uint32_t seed = 1;
};

// None, with a message on stderr, when the command line is not understood.
std::optional<server_options> parse_options(int argc, char** argv);

} // namespace morvane::instrument_server
