#include "registration/server_registration.hpp"

#include <new>
#include <string>
#include "platform/module_path.hpp"
#include "registration/registrar.hpp"
#include "registration/type_library_registration.hpp"

namespace morvane {
namespace {

// The thread's last error; a failure even where the platform left no code behind.
HRESULT last_error() noexcept
{
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

// The script resource as text; it is stored as UTF-8.
HRESULT load_script(HMODULE module, UINT number, std::wstring& script)
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(number), L"REGISTRY");
    if (!found)
        return last_error();
    HGLOBAL loaded = LoadResource(module, found);
    const auto* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        return last_error();
    // 0 is both an empty resource and a failure; only a failure leaves an error behind.
    SetLastError(ERROR_SUCCESS);
    const auto size = static_cast<int>(SizeofResource(module, found));
    if (size == 0) {
        if (const DWORD error = GetLastError(); error != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(error);
        script.clear();
        return S_OK;
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
    if (length == 0)
        return DISP_E_EXCEPTION;
    script.resize(static_cast<std::size_t>(length));
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes, size, script.data(), length) != length)
        return last_error();
    return S_OK;
}

// {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx} in lower case: the form the class's registry
// entries have always had, which the platform's own conversion (upper case) would change.
std::wstring braced_guid(const GUID& guid)
{
    std::wstring text = L"{";
    const auto hex = [&text](unsigned long value, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            text += L"0123456789abcdef"[(value >> shift) & 0xF];
    };
    hex(guid.Data1, 8);
    text += L'-';
    hex(guid.Data2, 4);
    text += L'-';
    hex(guid.Data3, 4);
    for (int index = 0; index < 8; ++index) {
        if (index == 0 || index == 2)
            text += L'-';
        hex(guid.Data4[index], 2);
    }
    return text + L'}';
}

// Runs the script of one class with the module's replacements.
HRESULT run_class_script(HMODULE module, const class_entry& entry, registrar_mode mode)
{
    std::wstring path;
    if (HRESULT hr = module_file_name(module, path); FAILED(hr))
        return hr;
    // The script quotes the module path, so its quotes are doubled there; Module_Raw is as is.
    std::wstring quoted;
    for (wchar_t c : path) {
        quoted += c;
        if (c == L'\'')
            quoted += c;
    }
    const std::wstring clsid = braced_guid(*entry.clsid);
    const registry::replacement replacements[] = {
        {L"Module", quoted},
        {L"Module_Raw", path},
        {L"APPID", L""},
        {L"CLSID", clsid},
    };
    std::wstring script;
    if (HRESULT hr = load_script(module, entry.registry_script, script); FAILED(hr))
        return hr;
    return run_registry_script(script, replacements, mode);
}

HRESULT run_class_scripts(HMODULE module, std::span<const class_entry> classes, registrar_mode mode) noexcept
{
    try {
        // The classes have no component categories, so the scripts are all there is.
        for (const class_entry& entry : classes)
            if (HRESULT hr = run_class_script(module, entry, mode); FAILED(hr))
                return hr;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

HRESULT register_server(HMODULE module, std::span<const class_entry> classes) noexcept
{
    if (HRESULT hr = run_class_scripts(module, classes, registrar_mode::register_keys); FAILED(hr))
        return hr;
    return register_type_library(module);
}

HRESULT unregister_server(HMODULE module, std::span<const class_entry> classes) noexcept
{
    if (HRESULT hr = run_class_scripts(module, classes, registrar_mode::unregister_keys); FAILED(hr))
        return hr;
    return unregister_type_library(module);
}

} // namespace morvane
