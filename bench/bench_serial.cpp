// A block of 1 MiB over a serial pair (tests/serial/with_serial_pair.sh: MORVANE_SERIAL_PAIR names
// the two COM ports), instrument-sim --serial on the far one: ReadIEEEBlock through the serial
// session beside one bare ReadFile of the same bytes on the same port.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <wrl/client.h>
#include "instrument-sim/instrument_server_process.hpp"
#include "measure.hpp"
#include "platform/bstr.hpp"
#include "platform/unique_any.hpp"
#include "platform/variant.hpp"
#include "serial/serial_session.hpp"

namespace {

constexpr unsigned points = 131072; // REAL,64: 1 MiB
// "#71048576", the data, and the line feed after them.
constexpr std::size_t response_bytes = 9 + points * 8 + 1;

// The same response read by hand: the port opened with every read timeout off, so that one
// ReadFile waits for all the bytes asked.
double bare_read(unsigned port)
{
    const HANDLE opened = CreateFileW((L"\\\\.\\COM" + std::to_wstring(port)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE)
        check(HRESULT_FROM_WIN32(GetLastError()), "CreateFile");
    const morvane::unique_any<HANDLE, &CloseHandle> line(opened);
    COMMTIMEOUTS waits{};
    check(SetCommTimeouts(line.get(), &waits) ? S_OK : E_FAIL, "SetCommTimeouts");
    std::vector<char> response(response_bytes);
    static constexpr char query[] = "WAV:DATA?\n";
    return median_seconds(5, [&] {
        DWORD count = 0;
        check(WriteFile(line.get(), query, sizeof query - 1, &count, nullptr) ? S_OK : E_FAIL, "WriteFile");
        for (std::size_t got = 0; got < response.size(); got += count)
            check(ReadFile(line.get(), response.data() + got, static_cast<DWORD>(response.size() - got), &count,
                           nullptr) &&
                          count > 0
                      ? S_OK
                      : E_FAIL,
                  "ReadFile");
    });
}

} // namespace

void bench_serial(IFormattedIO488* io)
{
    const char* pair = std::getenv("MORVANE_SERIAL_PAIR");
    unsigned mine = 0, theirs = 0;
    if (!pair || std::sscanf(pair, "%u,%u", &mine, &theirs) != 2) {
        std::printf("serial: no serial pair (tools/run-bench makes one where socat is installed)\n");
        return;
    }
    const instrument_server_process server(L"", L"--serial COM" + std::to_wstring(theirs) + L" --seconds 600");
    Microsoft::WRL::ComPtr<IMessage> session;
    check(morvane::serial::open_serial_session({mine}, L"", 10000, &session), "open_serial_session");
    check(io->putref_IO(session.Get()), "IO");
    check(io->WriteString(morvane::make_bstr(L"WAV:FORM REAL,64;POIN " + std::to_wstring(points)).get(), VARIANT_TRUE),
          "WriteString");
    const morvane::unique_bstr query = morvane::make_bstr(L"WAV:DATA?");
    const double through_session = median_seconds(5, [&] {
        check(io->WriteString(query.get(), VARIANT_TRUE), "WriteString");
        morvane::unique_variant block;
        check(io->ReadIEEEBlock(NumberType_R8, VARIANT_FALSE, VARIANT_TRUE, block.get()), "ReadIEEEBlock");
    });
    check(io->putref_IO(nullptr), "IO");
    session.Reset(); // the port is one client's at a time
    line("ReadIEEEBlock 1 MiB over a serial pair, beside ReadFile", through_session, bare_read(mine));
}
