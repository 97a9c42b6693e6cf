// The simulated instrument over TCP: instrument-sim, started from the benchmark's folder,
// serves WAV:DATA? of its largest waveform beside TRAC:DATA? of a stored trace of the same
// bytes, both read by the bare client. The ratio is what making the waveform costs beyond
// sending stored bytes.
#include <winsock2.h>
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include "bare_client.hpp"
#include "instrument-sim/instrument_server_process.hpp"
#include "measure.hpp"
#include "transport/winsock.hpp"

namespace {

constexpr std::size_t block_bytes = 2 + 8 + 2'000'000 * 8 + 1; // "#8", the length, REAL,64 data, LF
constexpr long wait_seconds = 60;                              // for a first byte, however slow

// Sends `query` and receives its whole response into `to`; false when it did not all come.
bool response(bare_client& client, const char* query, char* to)
{
    client.send_line(query);
    return client.receive(to, block_bytes, false, wait_seconds) == block_bytes;
}

void measure(unsigned short port)
{
    bare_client client(port);
    // Received into the same memory every time: the figures are the simulator's, not those of
    // fresh pages on this side.
    const auto waveform = std::make_unique_for_overwrite<char[]>(block_bytes);
    const auto trace = std::make_unique_for_overwrite<char[]>(block_bytes);
    client.send_line("WAV:POIN 2000000;WAV:FORM REAL,64\n");
    const bool made = response(client, "WAV:DATA?\n", waveform.get());
    // The trace holds the waveform's own bytes: as many line feeds among them to frame.
    if (made) {
        client.send_all("TRAC:DATA ");
        client.send_all(std::string_view(waveform.get(), block_bytes));
    }
    char error[64] = {};
    client.send_line("SYST:ERR?\n");
    client.receive(error, sizeof error - 1, true, wait_seconds);
    if (!made || !response(client, "TRAC:DATA?\n", trace.get()) ||
        std::memcmp(waveform.get(), trace.get(), block_bytes) != 0 || std::strcmp(error, "0,\"No error\"\n") != 0) {
        std::printf("instrument-sim: no waveform stored as a trace (%s)\n", error);
        return;
    }
    const double generated = median_seconds(5, [&] { response(client, "WAV:DATA?\n", waveform.get()); });
    const double stored = median_seconds(5, [&] { response(client, "TRAC:DATA?\n", trace.get()); });
    line("WAV:DATA? 2e6 REAL,64 beside TRAC:DATA?", generated, stored);
}

} // namespace

void bench_simulator()
{
    const morvane::transport::winsock_use winsock;
    // One connection; given five seconds to stop by itself before it is ended.
    const instrument_server_process simulator(L"", L"--once --seconds 600", 5000);
    measure(simulator.port());
}
