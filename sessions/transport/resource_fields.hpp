#pragma once
// What the resource names of LAN instruments share: fields between "::", a TCPIP board, a
// host (a name, an IPv4 address or an IPv6 address in brackets), a port, and the instrument
// names TCPIP[board]::host[::device name][::INSTR] that VXI-11 and HiSLIP share.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::transport {

// The fields of a resource name between its "::" separators; an IPv6 address in brackets at
// the start of a field is one field.
std::vector<std::wstring_view> resource_fields(std::wstring_view name);
// Equal, letters in either case.
bool same_text(std::wstring_view a, std::wstring_view b);
// A field "TCPIP" with an optional board number, any case.
bool is_tcpip_board(std::wstring_view field);
// The host field as it connects: brackets gone, ASCII only; none when it cannot be a host.
std::optional<std::string> host_of(std::wstring_view field);
// The port field as it connects: digits, 1 to 65535; none otherwise.
std::optional<std::string> port_of(std::wstring_view field);

struct lan_instrument {
    std::string host;   // without brackets
    std::string device; // the LAN device name, inst0 when the name has none
};
// TCPIP[board]::host[::device name][::INSTR], any case; none for another form.
std::optional<lan_instrument> parse_lan_instrument(std::wstring_view name);
// A device name that HiSLIP serves: it starts with "hislip", in any case.
bool is_hislip_device(std::string_view device);

} // namespace morvane::transport
