#include "hislip/hislip_resource_name.hpp"

#include "hislip/hislip_messages.hpp"
#include "transport/resource_fields.hpp"

namespace morvane::hislip {

std::optional<hislip_address> parse_hislip_resource_name(std::wstring_view name)
{
    const auto instrument = transport::parse_lan_instrument(name);
    if (!instrument || !transport::is_hislip_device(instrument->device))
        return std::nullopt;
    const std::string& device = instrument->device;
    const std::size_t comma = device.find(',');
    hislip_address address{instrument->host, std::to_string(default_port), device.substr(0, comma)};
    if (comma != std::string::npos) {
        const std::optional<std::string> port =
            transport::port_of(std::wstring(device.begin() + static_cast<std::ptrdiff_t>(comma) + 1, device.end()));
        if (!port)
            return std::nullopt;
        address.port = *port;
    }
    return address;
}

} // namespace morvane::hislip
