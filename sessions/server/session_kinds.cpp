#include "server/session_kinds.hpp"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <new>
#include "hislip/hislip_resource_name.hpp"
#include "hislip/hislip_session.hpp"
#include "serial/serial_ports.hpp"
#include "serial/serial_resource_name.hpp"
#include "serial/serial_session.hpp"
#include "sim/simulated_session.hpp"
#include "socket/socket_resource_name.hpp"
#include "socket/socket_session.hpp"
#include "vxi11/discovery.hpp"
#include "vxi11/vxi11_resource_name.hpp"
#include "vxi11/vxi11_session.hpp"

namespace morvane::sessions {
namespace {

struct session_kind {
    std::wstring_view form;
    // Parses the name once; when it is of this kind, opens the session from what was parsed.
    std::optional<HRESULT> (*open)(const open_request& request, IMessage** session);
    // Null for a kind that cannot be found.
    std::vector<std::wstring> (*find)(const resource_pattern& pattern, const manager_settings& settings);
};

// A row's opener from the kind's parser and the opener of its address: the address's type
// ties the two to one kind.
template<auto parse, auto open> std::optional<HRESULT> parse_then_open(const open_request& request, IMessage** session)
{
    const auto address = parse(request.name);
    if (!address)
        return std::nullopt;
    return open(*address, request, session);
}

// The simulated instrument: one resource, SIM in any case, found without the network.
constexpr std::wstring_view simulated_name = L"SIM";
struct simulated_address {};

std::optional<simulated_address> parse_simulated(std::wstring_view name)
{
    const bool same = std::ranges::equal(name, simulated_name,
                                         [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
    return same ? std::optional(simulated_address{}) : std::nullopt;
}

HRESULT open_simulated(const simulated_address&, const open_request& request, IMessage** session)
{
    *session = sim::create_simulated_session(1, request.name, request.timeout_ms).Detach();
    if (!*session)
        throw std::bad_alloc(); // the only way it fails
    return S_OK;
}

std::vector<std::wstring> find_simulated(const resource_pattern& pattern, const manager_settings&)
{
    if (!pattern.matches(simulated_name))
        return {};
    return {std::wstring(simulated_name)};
}

HRESULT open_socket(const socket_session::socket_address& address, const open_request& request, IMessage** session)
{
    return socket_session::open_socket_session(address, request.name, request.timeout_ms, session);
}

HRESULT open_vxi11(const vxi11::vxi11_address& address, const open_request& request, IMessage** session)
{
    const vxi11::core_channel_ports ports{request.settings.portmapper_port, request.settings.core_port};
    return vxi11::open_vxi11_session(address, request.name, request.timeout_ms, ports, session);
}

HRESULT open_hislip(const hislip::hislip_address& address, const open_request& request, IMessage** session)
{
    return hislip::open_hislip_session(address, request.name, request.timeout_ms, session);
}

HRESULT open_serial(const serial::serial_address& address, const open_request& request, IMessage** session)
{
    return serial::open_serial_session(address, request.name, request.timeout_ms, session);
}

// The COM ports that the platform lists, as ASRL resources.
std::vector<std::wstring> find_serial(const resource_pattern& pattern, const manager_settings&)
{
    std::vector<std::wstring> found = serial::serial_resources();
    std::erase_if(found, [&](const std::wstring& name) { return !pattern.matches(name); });
    return found;
}

std::wstring instrument_name(const std::string& address)
{
    return L"TCPIP::" + std::wstring(address.begin(), address.end()) + L"::INSTR";
}

// The VXI-11 instruments that answer the discovery and whose names match.
std::vector<std::wstring> find_vxi11(const resource_pattern& pattern, const manager_settings& settings)
{
    std::vector<std::string> targets;
    const std::wstring_view addresses = settings.discovery_addresses;
    for (std::size_t at = 0; at <= addresses.size();) {
        std::size_t end = addresses.find(L',', at);
        if (end == std::wstring_view::npos)
            end = addresses.size();
        std::string address;
        for (const wchar_t c : addresses.substr(at, end - at))
            if (c > L' ' && c <= 0x7E)
                address += static_cast<char>(c);
        if (!address.empty())
            targets.push_back(std::move(address));
        at = end + 1;
    }
    const bool broadcast = targets.empty();
    if (broadcast)
        targets = vxi11::local_broadcast_addresses();
    // The network is asked only when a name of an address asked could be listed.
    if (std::ranges::none_of(targets,
                             [&](const std::string& target) { return pattern.matches(instrument_name(target)); }))
        return {};
    std::vector<std::wstring> found;
    for (const std::string& address :
         vxi11::discover_instruments(targets, settings.portmapper_port, settings.discovery_timeout, broadcast))
        if (std::wstring name = instrument_name(address); pattern.matches(name))
            found.push_back(std::move(name));
    return found;
}

// Tried in this order; the forms are disjoint, so the order is only that of ResourceForms
// and of FindResources' list.
constexpr session_kind kinds[] = {
    {simulated_name, parse_then_open<parse_simulated, open_simulated>, find_simulated},
    {socket_session::supported_form, parse_then_open<socket_session::parse_socket_resource_name, open_socket>, nullptr},
    {vxi11::vxi11_form, parse_then_open<vxi11::parse_vxi11_resource_name, open_vxi11>, find_vxi11},
    {hislip::hislip_form, parse_then_open<hislip::parse_hislip_resource_name, open_hislip>, nullptr},
    {serial::serial_form, parse_then_open<serial::parse_serial_resource_name, open_serial>, find_serial},
};

} // namespace

std::wstring resource_forms()
{
    std::wstring forms;
    for (const session_kind& kind : kinds)
        forms.append(forms.empty() ? L"" : L", ").append(kind.form);
    return forms;
}

std::optional<HRESULT> open_resource(const open_request& request, IMessage** session)
{
    for (const session_kind& kind : kinds)
        if (const std::optional<HRESULT> opened = kind.open(request, session))
            return opened;
    return std::nullopt;
}

std::vector<std::wstring> find_resources(const resource_pattern& pattern, const manager_settings& settings)
{
    std::vector<std::wstring> found;
    for (const session_kind& kind : kinds)
        if (kind.find)
            std::ranges::move(kind.find(pattern, settings), std::back_inserter(found));
    return found;
}

} // namespace morvane::sessions
