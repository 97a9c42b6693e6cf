#pragma once
// Resources: the names that -r takes, and the sessions opened on them: the simulated
// instrument, and instruments on the LAN that take raw SCPI on a TCP port.
#include <windows.h>
#include <string>
#include <string_view>
#include <variant>
#include <visacom.h>
#include <wrl/client.h>

namespace fmtio {

// "SIM": the simulated instrument, in this process.
struct simulated_resource {};

// Any other name goes to the socket session, which takes TCPIP[board]::host::port::SOCKET and
// refuses the rest with a message that names that form. The name is passed on unparsed.
struct socket_session_resource {
    std::string name;
};

using resource = std::variant<simulated_resource, socket_session_resource>;

resource parse_resource(std::string_view name);
std::string describe(const resource& which);
// A socket session connects within `timeout_ms`.
Microsoft::WRL::ComPtr<IMessage> open_session(const resource& which, long timeout_ms);

} // namespace fmtio
