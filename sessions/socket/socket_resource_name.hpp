#pragma once
// Resource names of raw TCP sockets: TCPIP[board]::host::port::SOCKET, any case, the board
// number optional, the host a name, an IPv4 address or an IPv6 address in brackets.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::socket_session {

// Where a resource name of that form connects.
struct socket_address {
    std::string host; // without brackets
    std::string port; // digits, 1 to 65535
};

// The fields of a resource name between its "::" separators; an IPv6 address in brackets at
// the start of a field is one field.
std::vector<std::wstring_view> resource_fields(std::wstring_view name);
// Equal, letters in either case.
bool same_text(std::wstring_view a, std::wstring_view b);
// A field "TCPIP" with an optional board number, any case.
bool is_tcpip_board(std::wstring_view field);
// The host field as it connects: brackets gone, ASCII only; none when it cannot be a host.
std::optional<std::string> host_of(std::wstring_view field);

// None when `name` is not of that form.
std::optional<socket_address> parse_socket_resource_name(std::wstring_view name);

inline constexpr const wchar_t* supported_form = L"TCPIP[board]::host::port::SOCKET";

} // namespace morvane::socket_session
