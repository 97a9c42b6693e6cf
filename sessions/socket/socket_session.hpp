#pragma once
// A message session over a raw TCP socket, for LAN instruments that speak SCPI on a port of
// their own (usually 5025). A raw socket has no END: the termination character (LF, on by
// default) marks the end of a response.
#include <windows.h>
#include <string_view>
#include <visacom.h>
#include "socket/socket_resource_name.hpp"

namespace morvane::socket_session {

// Connects to `address` within `timeout_ms`; a failure leaves its error information on the
// thread. The session's ResourceName is `resource_name`, its Timeout starts at `timeout_ms`.
HRESULT open_socket_session(const socket_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session);

} // namespace morvane::socket_session
