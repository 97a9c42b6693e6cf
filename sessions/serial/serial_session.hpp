#pragma once
// A message session over a serial port (ASRL<n>::INSTR, the platform's COM<n>): the stream
// session's reads and writes, and the line's settings on IMorvaneSerialSettings.
#include <windows.h>
#include <string_view>
#include <visacom.h>
#include "serial/serial_resource_name.hpp"

namespace morvane::serial {

// Opens the port at 9600 baud, 8N1, no flow control, reads that end at LF; a failure leaves its
// error information on the thread.
HRESULT open_serial_session(const serial_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session);

} // namespace morvane::serial
