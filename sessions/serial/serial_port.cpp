#include "serial/serial_port.hpp"

#include <algorithm>
#include <chrono>
#include "platform/system_message.hpp"

namespace morvane::serial {
namespace {

DWORD milliseconds_until(stream::deadline until)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
    return static_cast<DWORD>(std::clamp<long long>(left, 1, MAXDWORD - 1));
}

} // namespace

serial_port::serial_port(unsigned number) : m_name(L"COM" + std::to_wstring(number))
{
    const HANDLE opened =
        CreateFileW((L"\\\\.\\" + m_name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    m_port.reset(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
    if (!m_port)
        throw stream::failure{stream::failure::unreachable,
                              L"Could not open " + m_name + L": " + system_clause(GetLastError())};
    // A read waits up to its deadline for a first byte, then takes what comes until the line
    // is quiet for a millisecond or the buffer is full: a block comes in reads as large as the
    // buffer, a short answer a millisecond after its last byte. (The platform's own wait for a
    // first byte, the interval and multiplier at their maximum, waits out its whole constant
    // under Wine.)
    m_timeouts.ReadIntervalTimeout = 1;
    m_timeouts.ReadTotalTimeoutConstant = 1000;
    m_timeouts.WriteTotalTimeoutConstant = 1000;
    if (!SetCommTimeouts(m_port.get(), &m_timeouts))
        throw stream::failure{stream::failure::unreachable,
                              m_name + L" takes no timeouts: " + system_clause(GetLastError())};
}

HRESULT serial_port::apply(const line_settings& settings)
{
    DCB line{};
    line.DCBlength = sizeof line;
    if (!GetCommState(m_port.get(), &line))
        return HRESULT_FROM_WIN32(GetLastError());
    line.BaudRate = static_cast<DWORD>(settings.baud_rate);
    line.ByteSize = static_cast<BYTE>(settings.data_bits);
    line.Parity = static_cast<BYTE>(settings.parity);
    line.StopBits = static_cast<BYTE>(settings.stop_bits);
    line.fBinary = TRUE;
    line.fParity = settings.parity != NOPARITY;
    line.fOutX = line.fInX = settings.flow_control == flow_xon_xoff;
    line.fOutxCtsFlow = settings.flow_control == flow_rts_cts;
    line.fRtsControl = settings.flow_control == flow_rts_cts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    line.fOutxDsrFlow = settings.flow_control == flow_dtr_dsr;
    line.fDtrControl = settings.flow_control == flow_dtr_dsr ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    line.XonChar = 0x11;
    line.XoffChar = 0x13;
    return SetCommState(m_port.get(), &line) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

void serial_port::time_out(bool reading, stream::deadline until)
{
    DWORD& constant = reading ? m_timeouts.ReadTotalTimeoutConstant : m_timeouts.WriteTotalTimeoutConstant;
    const DWORD wanted = milliseconds_until(until);
    if (constant == wanted)
        return;
    constant = wanted;
    if (!SetCommTimeouts(m_port.get(), &m_timeouts))
        throw lost(L"its timeouts could not be set");
}

stream::failure serial_port::lost(const wchar_t* what) const
{
    return {stream::failure::lost,
            L"The serial port " + m_name + L" failed: " + what + L" (" + system_clause(GetLastError()) + L")."};
}

void serial_port::send_all(const unsigned char* bytes, std::size_t count, stream::deadline until)
{
    while (count > 0) {
        if (std::chrono::steady_clock::now() >= until)
            throw stream::failure{stream::failure::timed_out, L"Timeout expired before operation completed."};
        time_out(false, until);
        DWORD written = 0;
        if (!WriteFile(m_port.get(), bytes, static_cast<DWORD>(std::min<std::size_t>(count, 1 << 20)), &written,
                       nullptr))
            throw lost(L"a write failed");
        bytes += written;
        count -= written;
    }
}

std::size_t serial_port::receive_into(std::span<unsigned char> to, stream::deadline until)
{
    for (;;) {
        time_out(true, until);
        DWORD got = 0;
        if (!ReadFile(m_port.get(), to.data(), static_cast<DWORD>(std::min<std::size_t>(to.size(), 1 << 20)), &got,
                      nullptr))
            throw lost(L"a read failed");
        if (got > 0)
            return got;
        if (std::chrono::steady_clock::now() >= until)
            throw stream::failure{stream::failure::timed_out, L"Timeout expired before operation completed."};
    }
}

std::size_t serial_port::waiting()
{
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(m_port.get(), &errors, &status) ? status.cbInQue : 0;
}

void serial_port::purge()
{
    // A line with nothing to purge, or a pseudo-terminal that cannot, leaves the drain after it
    // to do the work.
    PurgeComm(m_port.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
}

} // namespace morvane::serial
