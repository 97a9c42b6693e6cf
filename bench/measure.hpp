#pragma once
// Timing and reporting shared by the benchmark's cases.
#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <visacom.h>

class bench_session;

inline double now()
{
    static const double tick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1.0 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * tick;
}

// Seconds per run of `work`, the median of `runs` runs after one to warm up.
template<typename Work> double median_seconds(int runs, Work&& work)
{
    work();
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double start = now();
        work();
        times.push_back(now() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline void line(const char* name, double seconds, double bare_seconds)
{
    std::printf("%-44s %10.2f ms %10.2f ms %7.2f\n", name, seconds * 1e3, bare_seconds * 1e3, seconds / bare_seconds);
}

inline void check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        std::printf("%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
        std::exit(1);
    }
}

// The most memory that the process has held so far: its growth across a call is what the call
// held at most, when nothing before it held more.
inline std::size_t peak_working_set()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

// ReadList and ReadNumber beside std::from_chars and ReadString.
void bench_reading(IFormattedIO488* io, bench_session& session);
// WriteIEEEBlock and ReadIEEEBlock of 100 MiB beside a memcpy into new memory.
void bench_blocks(IFormattedIO488* io, bench_session& session);
// Query round trips and a large block through the loopback socket.
void bench_socket(IFormattedIO488* io);
// WAV:DATA? of the simulated instrument's largest waveform beside TRAC:DATA? of as many
// stored bytes, over TCP from instrument-sim.
void bench_simulator();
// VXI-11 and HiSLIP beside the raw socket, all against instrument-sim.
void bench_network(IFormattedIO488* io);
// Service requests waited for and sent to a sink, beside one poll of the status byte, over the
// simulated instrument, VXI-11 and HiSLIP.
void bench_service_requests(IFormattedIO488* io);
// FindResources' matcher at its worst beside a plain compare of the name.
void bench_matching();
// A block over a serial pair, when the run has one (MORVANE_SERIAL_PAIR).
void bench_serial(IFormattedIO488* io);
