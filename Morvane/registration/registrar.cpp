#include "registration/registrar.hpp"

#include <array>
#include <new>
#include <string>
#include "registration/registry_key.hpp"

namespace morvane {
namespace {

using registry::marker;
using registry::script_key;

constexpr REGSAM key_access = KEY_READ | KEY_WRITE | DELETE;

HRESULT from_status(LSTATUS status) noexcept { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

// Keys that other software fills: never taken away with their contents by one script.
bool protected_name(const std::wstring& name) noexcept
{
    static constexpr std::array names = {
        L"AppID",    L"CLSID",     L"Component Categories",
        L"FileType", L"Interface", L"Hardware",
        L"Mime",     L"SAM",       L"SECURITY",
        L"SYSTEM",   L"Software",  L"TypeLib",
    };
    for (const wchar_t* candidate : names)
        if (CompareStringOrdinal(name.c_str(), -1, candidate, -1, TRUE) == CSTR_EQUAL)
            return true;
    return false;
}

HRESULT has_subkeys(HKEY key, bool& found) noexcept
{
    DWORD subkeys = 0;
    const LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr);
    found = subkeys != 0;
    return from_status(status);
}

// ForceRemove, unless the name is protected and the key has subkeys.
HRESULT may_force_remove(HKEY parent, const script_key& key, bool& remove) noexcept
{
    remove = key.mark == marker::force_remove;
    if (!remove || !protected_name(key.name))
        return S_OK;
    HKEY opened = nullptr;
    if (LSTATUS status = RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ, &opened); status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND ? S_OK : from_status(status);
    const unique_hkey owned(opened);
    bool subkeys = false;
    if (HRESULT hr = has_subkeys(opened, subkeys); FAILED(hr))
        return hr;
    remove = !subkeys;
    return S_OK;
}

HRESULT set_string(HKEY key, const wchar_t* name, const std::wstring& data) noexcept
{
    const auto bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
    return from_status(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()), bytes));
}

// Deletes the key with everything below it where its marker and its name call for that.
HRESULT force_remove(HKEY parent, const script_key& key, bool& removed) noexcept
{
    if (HRESULT hr = may_force_remove(parent, key, removed); FAILED(hr) || !removed)
        return hr;
    const LSTATUS status = RegDeleteTreeW(parent, key.name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : from_status(status);
}

HRESULT register_key(HKEY parent, const script_key& key) noexcept
{
    bool removed = false;
    if (HRESULT hr = force_remove(parent, key, removed); FAILED(hr))
        return hr;
    HKEY created = nullptr;
    if (LSTATUS status =
            RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0, key_access, nullptr, &created, nullptr);
        status != ERROR_SUCCESS)
        return from_status(status);
    const unique_hkey owned(created);
    if (key.value)
        if (HRESULT hr = set_string(created, nullptr, *key.value); FAILED(hr))
            return hr;
    for (const registry::named_value& value : key.values)
        if (HRESULT hr = set_string(created, value.name.c_str(), value.data); FAILED(hr))
            return hr;
    for (const script_key& subkey : key.subkeys)
        if (HRESULT hr = register_key(created, subkey); FAILED(hr))
            return hr;
    return S_OK;
}

HRESULT unregister_key(HKEY parent, const script_key& key) noexcept
{
    bool removed = false;
    if (HRESULT hr = force_remove(parent, key, removed); FAILED(hr) || removed)
        return hr;
    HKEY opened = nullptr;
    if (LSTATUS status = RegOpenKeyExW(parent, key.name.c_str(), 0, key_access, &opened); status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND ? S_OK : from_status(status);
    unique_hkey owned(opened);
    for (const script_key& subkey : key.subkeys)
        if (HRESULT hr = unregister_key(opened, subkey); FAILED(hr))
            return hr;
    if (key.mark == marker::no_remove)
        return S_OK;
    for (const registry::named_value& value : key.values)
        if (LSTATUS status = RegDeleteValueW(opened, value.name.c_str());
            status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return from_status(status);
    // Something that others put below the key keeps it.
    bool subkeys = false;
    if (HRESULT hr = has_subkeys(opened, subkeys); FAILED(hr) || subkeys)
        return hr;
    owned.reset();
    const LSTATUS status = RegDeleteKeyW(parent, key.name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : from_status(status);
}

} // namespace

HRESULT run_registry_script(std::wstring_view script, std::span<const registry::replacement> replacements,
                            registrar_mode mode, HKEY classes_root) noexcept
{
    try {
        const std::optional<std::wstring> text = registry::replace_tokens(script, replacements);
        if (!text)
            return DISP_E_EXCEPTION;
        const std::optional<std::vector<script_key>> keys = registry::parse_script(*text);
        if (!keys)
            return DISP_E_EXCEPTION;
        for (const script_key& key : *keys) {
            const HRESULT hr = mode == registrar_mode::register_keys ? register_key(classes_root, key)
                                                                     : unregister_key(classes_root, key);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace morvane
