#include "server/resource_manager.hpp"

#include <oleauto.h>
#include <algorithm>
#include <string_view>
#include "com/call_boundary.hpp"
#include "error/error_record.hpp"
#include "platform/bstr.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"

namespace morvane::sessions {
namespace {

constexpr const wchar_t* error_source = L"Morvane.ResourceManager";
HRESULT report(HRESULT hr, std::wstring_view description) noexcept
{
    return report_error(hr, description, error_source, IID_IMorvaneResourceManager);
}

// Every method runs inside the boundary (com/call_boundary.hpp): what escapes a body is
// reported under the manager's source.
template<typename Body>
HRESULT frame(Body&& body, const wchar_t* out_of_memory = L"Not enough memory to complete the call.") noexcept
{
    return guarded_call({error_source, IID_IMorvaneResourceManager, out_of_memory}, body);
}

std::wstring_view text_of(BSTR text) noexcept { return {text ? text : L"", SysStringLen(text)}; }

// The name as a message can show it: control characters (a NUL would end the text) as '?'.
std::wstring shown(std::wstring_view name)
{
    std::wstring text(name);
    std::ranges::replace_if(
        text, [](wchar_t c) { return c < L' '; }, L'?');
    return text;
}

HRESULT new_text(std::wstring_view text, BSTR* out) noexcept
{
    *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out ? S_OK : report(E_OUTOFMEMORY, L"Not enough memory for the text.");
}

} // namespace

manager_settings resource_manager::settings()
{
    const std::lock_guard guard(m_lock);
    return {static_cast<unsigned short>(m_portmapper_port), static_cast<unsigned short>(m_core_port),
            m_discovery_addresses, std::chrono::milliseconds(m_discovery_timeout_ms)};
}

HRESULT resource_manager::open_named(BSTR resource_name, LONG timeout, IMessage** session)
{
    if (!session)
        return report(E_POINTER, L"A required pointer is null.");
    *session = nullptr;
    if (timeout < 1)
        return report(E_INVALIDARG, L"The timeout must be at least 1 ms.");
    const std::wstring_view name = text_of(resource_name);
    const manager_settings current = settings();
    if (const std::optional<HRESULT> opened = open_resource({name, timeout, current}, session))
        return *opened;
    return report(session::invalid_resource,
                  L"The resource name \"" + shown(name) + L"\" is not of a supported form: " + resource_forms() + L".");
}

HRESULT resource_manager::list_resources(BSTR expression, SAFEARRAY** names)
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
    const std::vector<std::wstring> found = find_resources(pattern, settings());
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
    return frame(
        [&] {
            if (!text)
                return report(E_POINTER, L"A required pointer is null.");
            return new_text(resource_forms(), text);
        },
        L"Not enough memory for the text.");
}

HRESULT resource_manager::get_number(const LONG& field, LONG* out)
{
    return frame([&] {
        if (!out)
            return report(E_POINTER, L"A required pointer is null.");
        const std::lock_guard guard(m_lock);
        *out = field;
        return S_OK;
    });
}

HRESULT resource_manager::put_number(LONG& field, LONG value, LONG lowest, LONG highest, const wchar_t* refused)
{
    return frame([&] {
        if (value < lowest || value > highest)
            return report(E_INVALIDARG, refused);
        const std::lock_guard guard(m_lock);
        field = value;
        return S_OK;
    });
}

STDMETHODIMP resource_manager::get_PortmapperPort(LONG* port) { return get_number(m_portmapper_port, port); }
STDMETHODIMP resource_manager::put_PortmapperPort(LONG port)
{
    return put_number(m_portmapper_port, port, 1, 65535, L"The portmapper port must be from 1 to 65535.");
}
STDMETHODIMP resource_manager::get_DiscoveryTimeout(LONG* ms) { return get_number(m_discovery_timeout_ms, ms); }
STDMETHODIMP resource_manager::put_DiscoveryTimeout(LONG ms)
{
    return put_number(m_discovery_timeout_ms, ms, 1, LONG_MAX, L"The discovery timeout must be at least 1 ms.");
}
STDMETHODIMP resource_manager::get_CorePort(LONG* port) { return get_number(m_core_port, port); }
STDMETHODIMP resource_manager::put_CorePort(LONG port)
{
    return put_number(m_core_port, port, 0, 65535, L"The core port must be from 0 (ask the portmapper) to 65535.");
}

STDMETHODIMP resource_manager::get_DiscoveryAddresses(BSTR* addresses)
{
    return frame([&] {
        if (!addresses)
            return report(E_POINTER, L"A required pointer is null.");
        const std::lock_guard guard(m_lock);
        return new_text(m_discovery_addresses, addresses);
    });
}

STDMETHODIMP resource_manager::put_DiscoveryAddresses(BSTR addresses)
{
    return frame(
        [&] {
            std::wstring text(text_of(addresses));
            const std::lock_guard guard(m_lock);
            m_discovery_addresses = std::move(text);
        },
        L"Not enough memory for the addresses.");
}

STDMETHODIMP resource_manager::InterfaceSupportsErrorInfo(REFIID riid)
{
    return frame([&] { return InlineIsEqualGUID(riid, IID_IMorvaneResourceManager) ? S_OK : S_FALSE; });
}

STDMETHODIMP resource_manager::Open(BSTR resource_name, LONG timeout, IMessage** session)
{
    return frame([&] { return open_named(resource_name, timeout, session); },
                 L"Not enough memory to open the session.");
}

STDMETHODIMP resource_manager::FindResources(BSTR expression, SAFEARRAY** names)
{
    return frame([&] { return list_resources(expression, names); }, L"Not enough memory for the list of resources.");
}

} // namespace morvane::sessions
