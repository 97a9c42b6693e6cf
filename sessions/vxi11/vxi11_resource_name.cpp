#include "vxi11/vxi11_resource_name.hpp"

#include <algorithm>
#include <vector>
#include "transport/resource_fields.hpp"

namespace morvane::vxi11 {

using transport::same_text;

std::optional<vxi11_address> parse_vxi11_resource_name(std::wstring_view name)
{
    std::vector<std::wstring_view> parts = transport::resource_fields(name);
    if (parts.size() > 2 && same_text(parts.back(), L"INSTR"))
        parts.pop_back();
    if (parts.size() < 2 || parts.size() > 3 || !transport::is_tcpip_board(parts[0]))
        return std::nullopt;
    const std::optional<std::string> host = transport::host_of(parts[1]);
    if (!host)
        return std::nullopt;
    vxi11_address address{*host, "inst0"};
    if (parts.size() == 3) {
        // The words that end the other forms are no device names.
        const std::wstring_view device = parts[2];
        if (device.empty() || same_text(device, L"SOCKET") || same_text(device, L"INSTR") ||
            !std::ranges::all_of(device, [](wchar_t c) { return c > L' ' && c <= 0x7E; }))
            return std::nullopt;
        address.device.assign(device.begin(), device.end());
    }
    return address;
}

bool is_hislip_device(const vxi11_address& address)
{
    const std::string& device = address.device;
    return device.size() >= 6 && same_text(std::wstring(device.begin(), device.begin() + 6), L"hislip");
}

} // namespace morvane::vxi11
