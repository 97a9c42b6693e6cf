#pragma once
// A message session over HiSLIP: a synchronous channel for the messages and an asynchronous
// one for the protocol's own exchanges (status byte, device clear, locks) and the instrument's
// service requests, two TCP connections to one port. DataEND frames messages here: the
// termination character is off as a session opens.
#include <windows.h>
#include <string_view>
#include <visacom.h>
#include "hislip/hislip_resource_name.hpp"

namespace morvane::hislip {

// The largest Data payload the session takes, and so the most it holds of one message beyond
// what a read asks for.
inline constexpr std::uint64_t client_maximum_message_size = 1u << 20;

// Opens both channels to `address` within `timeout_ms`; a failure leaves its error information
// on the thread. The session's ResourceName is `resource_name`, its Timeout starts at `timeout_ms`.
HRESULT open_hislip_session(const hislip_address& address, std::wstring_view resource_name, LONG timeout_ms,
                            IMessage** session);

} // namespace morvane::hislip
