#pragma once
// Resource names of VXI-11 instruments: TCPIP[board]::host[::device name][::INSTR], any case,
// the device inst0 when none is named (a gateway names its instruments such as gpib0,5).
#include <optional>
#include <string>
#include <string_view>

namespace morvane::vxi11 {

struct vxi11_address {
    std::string host;   // without brackets
    std::string device; // the LAN device name that create_link asks for
};

// None when `name` is not of that form, or names a HiSLIP device.
std::optional<vxi11_address> parse_vxi11_resource_name(std::wstring_view name);

inline constexpr const wchar_t* vxi11_form = L"TCPIP[board]::host[::device name][::INSTR]";

} // namespace morvane::vxi11
