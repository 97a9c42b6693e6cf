#pragma once
// A message session over a raw TCP socket, for LAN instruments that speak SCPI on a port of
// their own (usually 5025). A raw socket has no END: the termination character (LF, on by
// default) marks the end of a response.
#include <windows.h>
#include <string_view>
#include <visacom.h>

namespace morvane::socket_session {

// The HRESULTs that the session gives, as sessions give them.
inline constexpr HRESULT resource_not_found = static_cast<HRESULT>(0x80040011);
inline constexpr HRESULT invalid_resource = static_cast<HRESULT>(0x80040012);
inline constexpr HRESULT timeout_expired = static_cast<HRESULT>(0x80040015);
inline constexpr HRESULT connection_lost = static_cast<HRESULT>(0x800400A6);
inline constexpr LONG status_end = 0; // also when the instrument closed the connection
inline constexpr LONG status_termination_character = 0x00040005;
inline constexpr LONG status_count_reached = 0x00040006;

// Connects to the resource, within `timeout_ms`; a failure leaves its error information on
// the thread. The session's Timeout starts at the same value.
HRESULT open_socket_session(std::wstring_view resource, LONG timeout_ms, IMessage** session);

} // namespace morvane::socket_session
