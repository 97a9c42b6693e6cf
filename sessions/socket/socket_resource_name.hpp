#pragma once
// Resource names of raw TCP sockets: TCPIP[board]::host::port::SOCKET, any case, the board
// number optional, the host a name, an IPv4 address or an IPv6 address in brackets.
#include <optional>
#include <string>
#include <string_view>

namespace morvane::socket_session {

// Where a resource name of that form connects.
struct socket_address {
    std::string host; // without brackets
    std::string port; // digits, 1 to 65535
};

// None when `name` is not of that form.
std::optional<socket_address> parse_socket_resource_name(std::wstring_view name);

inline constexpr const wchar_t* supported_form = L"TCPIP[board]::host::port::SOCKET";

} // namespace morvane::socket_session
