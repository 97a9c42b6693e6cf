#include "server_options.hpp"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include "hislip/hislip_messages.hpp"

namespace morvane::instrument_server {
namespace {

bool number(const char* text, double most, double& value)
{
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0 && value <= most;
}

} // namespace

std::optional<server_options> parse_options(int argc, char** argv)
{
    server_options options;
    bool port_given = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view name = argv[i];
        if (name == "--once" || name == "--vxi11" || name == "--hislip" || name == "--overlapped") {
            (name == "--once"     ? options.once
             : name == "--vxi11"  ? options.vxi11
             : name == "--hislip" ? options.hislip
                                  : options.overlapped) = true;
            continue;
        }
        if (name == "--help") {
            std::printf("usage: instrument-sim [--port N] [--address A] [--once] [--seconds S] [--seed N]\n"
                        "                      [--max-connections N] [--idle-timeout S] [--memory-limit MIB]\n"
                        "                      [--delay MS] [--segment N] [--drop-after N]\n"
                        "                      [--vxi11 [--portmapper-port N] | --hislip [--overlapped]\n"
                        "                       | --serial COM<n>]\n"
                        "Serves the simulated instrument over TCP (raw SCPI, LF-terminated). The port\n"
                        "bound is the first line of output; --port 0 picks a free one.\n"
                        "--vxi11: over VXI-11 instead, the core channel on --port, a portmapper (TCP\n"
                        "and UDP) on --portmapper-port (111 by default, 0 for a free one); the first\n"
                        "line of output is then the core port and the portmapper port.\n"
                        "--hislip: over HiSLIP instead, on --port (4880 by default); --overlapped: the\n"
                        "server prefers overlapped mode (default: synchronized). Not with --once.\n"
                        "--serial: on the serial port COM<n> instead (9600 baud, 8N1, LF-terminated);\n"
                        "the first line of output is the port's name. --delay and --segment apply.\n"
                        "--max-connections: clients served at once (32); more are closed as they come.\n"
                        "--idle-timeout: close a client that sent nothing for S seconds (0: never, the default).\n"
                        "--memory-limit: MiB held for all clients, 128 MiB at most for one (512).\n");
            std::exit(0);
        }
        double value = 0;
        if (i + 1 >= argc) {
            std::fprintf(stderr, "instrument-sim: %s needs a value (see --help)\n", argv[i]);
            return std::nullopt;
        }
        const char* text = argv[++i];
        bool ok = true;
        if (name == "--address")
            options.address = text;
        else if (name == "--serial")
            ok = (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
                 (text[2] == 'M' || text[2] == 'm') && number(text + 3, 256, value) && value >= 1,
            options.serial_port = static_cast<unsigned>(value);
        else if (name == "--port")
            ok = number(text, 65535, value), options.port = static_cast<unsigned>(value), port_given = true;
        else if (name == "--portmapper-port")
            ok = number(text, 65535, value), options.portmapper_port = static_cast<unsigned>(value);
        else if (name == "--seconds")
            ok = number(text, 1e6, value), options.seconds = value;
        else if (name == "--seed")
            ok = number(text, 4294967295.0, value), options.seed = static_cast<std::uint32_t>(value);
        else if (name == "--delay")
            ok = number(text, 600000, value), options.delay_ms = static_cast<unsigned>(value);
        else if (name == "--segment")
            ok = number(text, 1e9, value), options.segment = static_cast<std::size_t>(value);
        else if (name == "--max-connections")
            ok = number(text, 100000, value) && value >= 1, options.max_connections = static_cast<unsigned>(value);
        else if (name == "--idle-timeout")
            ok = number(text, 1e6, value), options.idle_seconds = value;
        else if (name == "--memory-limit")
            ok = number(text, 1 << 20, value) && value >= 1, options.memory_limit_mib = static_cast<std::size_t>(value);
        else if (name == "--drop-after")
            ok = number(text, 1e12, value), options.drop_after = static_cast<std::size_t>(value);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "instrument-sim: bad option %s %s (see --help)\n", name.data(), text);
            return std::nullopt;
        }
    }
    // A HiSLIP session takes two connections, and its port is another.
    if (options.serial_port && (options.vxi11 || options.hislip)) {
        std::fprintf(stderr, "instrument-sim: --serial goes without --vxi11 and --hislip\n");
        return std::nullopt;
    }
    if ((options.hislip && (options.vxi11 || options.once)) || (options.overlapped && !options.hislip)) {
        std::fprintf(stderr, "instrument-sim: --hislip goes without --vxi11 and --once, --overlapped with --hislip\n");
        return std::nullopt;
    }
    if (options.hislip && !port_given)
        options.port = hislip::default_port;
    return options;
}

} // namespace morvane::instrument_server
