#pragma once
// One COM port through the platform's serial API, as a byte stream whose every wait is bounded
// by a deadline: a read returns once bytes have come and the line is quiet, or at the deadline
// with none.
#include <windows.h>
#include <cstddef>
#include <span>
#include <string>
#include "byte_stream.hpp"
#include "platform/unique_any.hpp"

namespace morvane::serial {

// The line's settings. Parity and stop bits take the platform's values (NOPARITY..SPACEPARITY,
// ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS).
struct line_settings {
    long baud_rate = 9600;
    short data_bits = 8;
    long parity = NOPARITY;
    long stop_bits = ONESTOPBIT;
    long flow_control = 0; // flow_* below, one at most
};

inline constexpr long flow_none = 0, flow_xon_xoff = 1, flow_rts_cts = 2, flow_dtr_dsr = 4;

class serial_port final : public stream::byte_stream {
public:
    // Opens COM<number>; throws stream::failure (unreachable) with the platform's reason.
    explicit serial_port(unsigned number);

    // The platform's HRESULT when it refuses them.
    HRESULT apply(const line_settings& settings);

    void send_all(const unsigned char* bytes, std::size_t count, stream::deadline until) override;
    std::size_t receive_into(std::span<unsigned char> to, stream::deadline until) override;
    void purge() override;
    // Bytes that have come and are not read yet.
    std::size_t waiting();

private:
    // Sets the read or write timeout to what is left until `until` (1 ms at least), only when
    // it changes: each setting is a call through the platform.
    void time_out(bool reading, stream::deadline until);
    stream::failure lost(const wchar_t* what) const;

    unique_any<HANDLE, &CloseHandle> m_port; // null, never INVALID_HANDLE_VALUE
    std::wstring m_name;                     // COMn
    COMMTIMEOUTS m_timeouts{};
};

} // namespace morvane::serial
