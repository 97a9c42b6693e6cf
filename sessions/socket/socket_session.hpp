#pragma once
// A message session over a raw TCP socket, for LAN instruments that speak SCPI on a port of
// their own (usually 5025). A raw socket has no END: the termination character (LF, on by
// default) marks the end of a response.
#include <windows.h>
#include <string_view>
#include <visacom.h>

namespace morvane::socket_session {

// Connects to the resource, within `timeout_ms`; a failure leaves its error information on
// the thread. The session's Timeout starts at the same value.
HRESULT open_socket_session(std::wstring_view resource, LONG timeout_ms, IMessage** session);

} // namespace morvane::socket_session
