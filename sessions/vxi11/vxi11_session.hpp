#pragma once
// A message session over the VXI-11 core channel (ONC RPC over TCP), for LAN instruments named
// TCPIP[board]::host[::device name][::INSTR]. END frames messages here: the termination
// character is off as a session opens.
#include <windows.h>
#include <string_view>
#include <visacom.h>
#include "vxi11/vxi11_resource_name.hpp"

namespace morvane::vxi11 {

// Where the core channel is found: the portmapper's port, or the core channel's own port when
// not 0 (the portmapper is then not asked).
struct core_channel_ports {
    unsigned short portmapper = 111;
    unsigned short core = 0;
};

// Opens a link to the device at `address` within `timeout_ms`; a failure leaves its error
// information on the thread. The session's ResourceName is `resource_name`, its Timeout starts
// at `timeout_ms`.
HRESULT open_vxi11_session(const vxi11_address& address, std::wstring_view resource_name, LONG timeout_ms,
                           core_channel_ports ports, IMessage** session);

} // namespace morvane::vxi11
