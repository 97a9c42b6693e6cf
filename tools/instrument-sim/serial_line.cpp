#include "serial_line.hpp"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include "line_instrument.hpp"
#include "serial/serial_port.hpp"

namespace morvane::instrument_server {

int serve_serial_line(const server_options& options)
{
    std::unique_ptr<serial::serial_port> port;
    try {
        port = std::make_unique<serial::serial_port>(options.serial_port);
    } catch (const stream::failure& failure) {
        std::fprintf(stderr, "instrument-sim: %ls\n", failure.text.c_str());
        return 1;
    }
    if (FAILED(port->apply(serial::line_settings{}))) {
        std::fprintf(stderr, "instrument-sim: COM%u refused 9600 baud, 8N1\n", options.serial_port);
        return 1;
    }
    std::printf("COM%u\n", options.serial_port);
    std::fflush(stdout);
    using clock = std::chrono::steady_clock;
    line_peer peer{[&](const unsigned char* bytes, std::size_t count) {
                       try {
                           port->send_all(bytes, count, clock::now() + std::chrono::seconds(10));
                           return true;
                       } catch (const stream::failure&) {
                           return false;
                       }
                   },
                   [] {}, // a line has no close of its own: the bytes stop
                   [&](std::chrono::milliseconds wait) {
                       std::this_thread::sleep_for(wait);
                       return port->waiting() > 0;
                   }};
    const auto memory = std::make_shared<sim::memory_budget>(connection_memory_limit);
    line_instrument instrument(std::move(peer), options, memory);
    if (!instrument)
        return 1;
    const auto stop = clock::now() + std::chrono::duration_cast<clock::duration>(
                                         std::chrono::duration<double>(options.seconds > 0 ? options.seconds : 1e9));
    unsigned char buffer[64 * 1024];
    while (clock::now() < stop) {
        std::size_t n = 0;
        try {
            // The time limit is looked at ten times a second.
            n = port->receive_into(buffer, clock::now() + std::chrono::milliseconds(100));
        } catch (const stream::failure& failure) {
            if (failure.kind == stream::failure::timed_out)
                continue;
            std::fprintf(stderr, "instrument-sim: %ls\n", failure.text.c_str());
            return 1;
        }
        if (!instrument.take(std::string_view(reinterpret_cast<const char*>(buffer), n)))
            break;
    }
    return 0;
}

} // namespace morvane::instrument_server
