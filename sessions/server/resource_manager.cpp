#include "server/resource_manager.hpp"

#include <oleauto.h>
#include <algorithm>
#include <cwctype>
#include <string_view>
#include "com/call_boundary.hpp"
#include "error/error_record.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "sim/simulated_session.hpp"
#include "socket/socket_resource_name.hpp"
#include "socket/socket_session.hpp"
#include "vxi11/discovery.hpp"
#include "vxi11/vxi11_resource_name.hpp"
#include "vxi11/vxi11_session.hpp"

namespace morvane::sessions {
namespace {

constexpr const wchar_t* error_source = L"Morvane.ResourceManager";
constexpr std::wstring_view simulated_name = L"SIM";
constexpr const wchar_t* forms = L"TCPIP[board]::host::port::SOCKET, TCPIP[board]::host[::device name][::INSTR], SIM";

// What the manager can find without asking the network.
constexpr std::wstring_view local_resources[] = {simulated_name};

HRESULT report(HRESULT hr, std::wstring_view description) noexcept
{
    return report_error(hr, description, error_source, IID_IMorvaneResourceManager);
}

// Every method runs inside the boundary (com/call_boundary.hpp): what escapes a body is
// reported under the manager's source.
template <typename Body>
HRESULT frame(Body&& body, const wchar_t* out_of_memory = L"Not enough memory to complete the call.") noexcept
{
    return guarded_call({error_source, IID_IMorvaneResourceManager, out_of_memory}, body);
}

std::wstring_view text_of(BSTR text) noexcept { return {text ? text : L"", SysStringLen(text)}; }

bool same_name(std::wstring_view a, std::wstring_view b)
{
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towupper(x) == std::towupper(y); });
}

// The name as a message can show it: control characters (a NUL would end the text) as '?'.
std::wstring shown(std::wstring_view name)
{
    std::wstring text(name);
    std::ranges::replace_if(text, [](wchar_t c) { return c < L' '; }, L'?');
    return text;
}

HRESULT new_text(std::wstring_view text, BSTR* out) noexcept
{
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : report(E_OUTOFMEMORY, L"Not enough memory for the text.");
}

std::wstring instrument_name(const std::string& address)
{
    return L"TCPIP::" + std::wstring(address.begin(), address.end()) + L"::INSTR";
}

} // namespace

std::vector<std::wstring> resource_manager::discover(const resource_pattern& pattern)
{
    std::vector<std::string> targets;
    unsigned short port = 111;
    LONG timeout_ms = 0;
    {
        const std::lock_guard guard(lock_);
        for (std::size_t at = 0; at <= discovery_addresses_.size();) {
            std::size_t end = discovery_addresses_.find(L',', at);
            if (end == std::wstring::npos)
                end = discovery_addresses_.size();
            std::string address;
            for (const wchar_t c : std::wstring_view(discovery_addresses_).substr(at, end - at))
                if (c > L' ' && c <= 0x7E)
                    address += static_cast<char>(c);
            if (!address.empty())
                targets.push_back(std::move(address));
            at = end + 1;
        }
        port = static_cast<unsigned short>(portmapper_port_);
        timeout_ms = discovery_timeout_ms_;
    }
    const bool broadcast = targets.empty();
    if (broadcast)
        targets = vxi11::local_broadcast_addresses();
    // The network is asked only when a name of an address asked could be listed.
    if (std::ranges::none_of(targets, [&](const std::string& target) {
            return pattern.matches(instrument_name(target));
        }))
        return {};
    std::vector<std::wstring> found;
    for (const std::string& address : vxi11::discover_instruments(targets, port, std::chrono::milliseconds(timeout_ms), broadcast))
        if (std::wstring name = instrument_name(address); pattern.matches(name))
            found.push_back(std::move(name));
    return found;
}

HRESULT resource_manager::open(BSTR resource_name, LONG timeout, IMessage** session)
{
    if (!session)
        return report(E_POINTER, L"A required pointer is null.");
    *session = nullptr;
    if (timeout < 1)
        return report(E_INVALIDARG, L"The timeout must be at least 1 ms.");
    const std::wstring_view name = text_of(resource_name);
    if (same_name(name, simulated_name)) {
        *session = sim::create_simulated_session(1, name, timeout).Detach();
        return *session ? S_OK : report(E_OUTOFMEMORY, L"Not enough memory to open the session.");
    }
    if (socket_session::parse_socket_resource_name(name))
        return socket_session::open_socket_session(name, timeout, session);
    if (vxi11::parse_vxi11_resource_name(name)) {
        vxi11::core_channel_ports ports;
        {
            const std::lock_guard guard(lock_);
            ports.portmapper = static_cast<unsigned short>(portmapper_port_);
            ports.core = static_cast<unsigned short>(core_port_);
        }
        return vxi11::open_vxi11_session(name, timeout, ports, session);
    }
    return report(session::invalid_resource, L"The resource name \"" + shown(name) +
                                                 L"\" is not of a supported form: " + forms + L".");
}

HRESULT resource_manager::find_resources(BSTR expression, SAFEARRAY** names)
{
    if (!names)
        return report(E_POINTER, L"A required pointer is null.");
    *names = nullptr;
    const std::wstring_view text = SysStringLen(expression) ? text_of(expression) : L"?*";
    const resource_pattern pattern(text);
    if (pattern.refusal() == resource_pattern::fault::too_long)
        return report(E_INVALIDARG, L"The expression has " + std::to_wstring(text.size()) + L" characters; at most " +
                                        std::to_wstring(resource_pattern::longest_expression) + L" are taken.");
    if (pattern.refusal() != resource_pattern::fault::none)
        return report(E_INVALIDARG, L"The expression \"" + shown(text) + L"\" is not well formed.");
    std::vector<std::wstring> found;
    for (std::wstring_view resource : local_resources)
        if (pattern.matches(resource))
            found.emplace_back(resource);
    for (std::wstring& instrument : discover(pattern))
        found.push_back(std::move(instrument));
    unique_safearray list(SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(found.size())));
    if (!list)
        return report(E_OUTOFMEMORY, L"Not enough memory for the list of resources.");
    auto* elements = static_cast<BSTR*>(list->pvData);
    for (std::size_t i = 0; i < found.size(); ++i)
        if (FAILED(new_text(found[i], &elements[i])))
            return E_OUTOFMEMORY;
    *names = list.release();
    return S_OK;
}

STDMETHODIMP resource_manager::get_ResourceForms(BSTR* text)
{
    return frame([&] {
        if (!text)
            return report(E_POINTER, L"A required pointer is null.");
        return new_text(forms, text);
    });
}

HRESULT resource_manager::get_number(const LONG& field, LONG* out)
{
    return frame([&] {
        if (!out)
            return report(E_POINTER, L"A required pointer is null.");
        const std::lock_guard guard(lock_);
        *out = field;
        return S_OK;
    });
}

HRESULT resource_manager::put_number(LONG& field, LONG value, LONG lowest, LONG highest, const wchar_t* refused)
{
    return frame([&] {
        if (value < lowest || value > highest)
            return report(E_INVALIDARG, refused);
        const std::lock_guard guard(lock_);
        field = value;
        return S_OK;
    });
}

STDMETHODIMP resource_manager::get_PortmapperPort(LONG* port) { return get_number(portmapper_port_, port); }
STDMETHODIMP resource_manager::put_PortmapperPort(LONG port)
{
    return put_number(portmapper_port_, port, 1, 65535, L"The portmapper port must be from 1 to 65535.");
}
STDMETHODIMP resource_manager::get_DiscoveryTimeout(LONG* ms) { return get_number(discovery_timeout_ms_, ms); }
STDMETHODIMP resource_manager::put_DiscoveryTimeout(LONG ms)
{
    return put_number(discovery_timeout_ms_, ms, 1, LONG_MAX, L"The discovery timeout must be at least 1 ms.");
}
STDMETHODIMP resource_manager::get_CorePort(LONG* port) { return get_number(core_port_, port); }
STDMETHODIMP resource_manager::put_CorePort(LONG port)
{
    return put_number(core_port_, port, 0, 65535, L"The core port must be from 0 (ask the portmapper) to 65535.");
}

STDMETHODIMP resource_manager::get_DiscoveryAddresses(BSTR* addresses)
{
    return frame([&] {
        if (!addresses)
            return report(E_POINTER, L"A required pointer is null.");
        const std::lock_guard guard(lock_);
        return new_text(discovery_addresses_, addresses);
    });
}

STDMETHODIMP resource_manager::put_DiscoveryAddresses(BSTR addresses)
{
    return frame([&] {
        std::wstring text(text_of(addresses));
        const std::lock_guard guard(lock_);
        discovery_addresses_ = std::move(text);
    }, L"Not enough memory for the addresses.");
}

STDMETHODIMP resource_manager::InterfaceSupportsErrorInfo(REFIID riid)
{
    return frame([&] { return InlineIsEqualGUID(riid, IID_IMorvaneResourceManager) ? S_OK : S_FALSE; });
}

STDMETHODIMP resource_manager::Open(BSTR resource_name, LONG timeout, IMessage** session)
{
    return frame([&] { return open(resource_name, timeout, session); }, L"Not enough memory to open the session.");
}

STDMETHODIMP resource_manager::FindResources(BSTR expression, SAFEARRAY** names)
{
    return frame([&] { return find_resources(expression, names); }, L"Not enough memory for the list of resources.");
}

} // namespace morvane::sessions
