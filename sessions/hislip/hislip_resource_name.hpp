#pragma once
// Resource names of HiSLIP instruments: TCPIP[board]::host::hislip0[,port][::INSTR], any case,
// the host also an IPv6 address in brackets; a device name that starts with "hislip" selects
// HiSLIP, and ",port" overrides the protocol's port, 4880.
#include <optional>
#include <string>
#include <string_view>

namespace morvane::hislip {

struct hislip_address {
    std::string host;        // without brackets
    std::string port;        // digits, 1 to 65535
    std::string sub_address; // what Initialize names: the device name without its port
};

// None when `name` is not of that form.
std::optional<hislip_address> parse_hislip_resource_name(std::wstring_view name);

inline constexpr const wchar_t* hislip_form = L"TCPIP[board]::host::hislip0[,port][::INSTR]";

} // namespace morvane::hislip
