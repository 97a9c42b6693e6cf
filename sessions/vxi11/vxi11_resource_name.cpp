#include "vxi11/vxi11_resource_name.hpp"

#include "transport/resource_fields.hpp"

namespace morvane::vxi11 {

std::optional<vxi11_address> parse_vxi11_resource_name(std::wstring_view name)
{
    const auto instrument = transport::parse_lan_instrument(name);
    // A HiSLIP device's name is of the same form, but the HiSLIP session takes it.
    if (!instrument || transport::is_hislip_device(instrument->device))
        return std::nullopt;
    return vxi11_address{instrument->host, instrument->device};
}

} // namespace morvane::vxi11
