#pragma once
// Morvane.dll as a client reaches it: by its file in the build's bin directory, through its
// exports, through COM once installed, and through the registry entries it writes. The
// identities are written out here rather than taken from the component's sources, so a wrong
// value there cannot agree with itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <visacom.h>
#include <wrl/client.h>

namespace server_tests {

template <typename T>
using com_ptr = Microsoft::WRL::ComPtr<T>;
using names = std::vector<std::wstring>;

inline constexpr CLSID clsid_fmtdio = {0xdb8cbf1d, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};
inline constexpr IID iid_formatted_io = {0xdb8cbf1a, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};

// Full path of a file named relative to the directory that the build ships Morvane.dll in.
inline std::wstring shipped_file(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    std::wstring relative(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    // MORVANE_BIN_FROM_TESTS: the bin directory relative to the test executable's.
    relative = relative.substr(0, relative.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\" + name;
    return std::wstring(path, GetFullPathNameW(relative.c_str(), MAX_PATH, path, nullptr));
}

// The text of a BSTR, which is freed.
inline std::wstring take(BSTR text)
{
    const std::wstring result(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

inline HRESULT write_line(IFormattedIO488* io, const std::wstring& text)
{
    BSTR data = SysAllocString(text.c_str());
    const HRESULT hr = io->WriteString(data, VARIANT_TRUE);
    SysFreeString(data);
    return hr;
}

// The module loaded by path, and freed again; its exports are called by name.
class server_module {
public:
    explicit server_module(const std::wstring& path) : module_(LoadLibraryW(path.c_str()), &FreeLibrary) {}
    bool loaded() const { return module_ != nullptr; }

    HRESULT can_unload_now() const { return call<>("DllCanUnloadNow"); }
    HRESULT register_server() const { return call<>("DllRegisterServer"); }
    HRESULT unregister_server() const { return call<>("DllUnregisterServer"); }
    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) const
    {
        return call<REFCLSID, REFIID, void**>("DllGetClassObject", clsid, riid, out);
    }
    com_ptr<IClassFactory> class_factory() const
    {
        com_ptr<IClassFactory> factory;
        EXPECT_EQ(get_class_object(clsid_fmtdio, IID_IClassFactory, &factory), S_OK);
        return factory;
    }

private:
    // Through void (*)(): the one function pointer type that converts to any other unwarned.
    template <typename... Args>
    HRESULT call(const char* name, Args... args) const
    {
        const auto entry = reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), name));
        return reinterpret_cast<HRESULT(STDAPICALLTYPE*)(Args...)>(entry)(args...);
    }

    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module_;
};

// The registry below a given root key.
using unique_key = std::unique_ptr<std::remove_pointer_t<HKEY>, decltype(&RegCloseKey)>;

inline unique_key open_key(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    return {RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr, &RegCloseKey};
}

inline bool key_exists(HKEY root, const std::wstring& path)
{
    return open_key(root, path) != nullptr;
}

// A REG_SZ value ("" names the default value); nothing when the key or the value is missing.
inline std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name = L"")
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(root, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

// The names of a key's subkeys or, with `values`, of its values (the default value as ""), sorted.
inline names names_in(HKEY root, const std::wstring& path, bool values = false)
{
    names found;
    const auto key = open_key(root, path);
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         key && (values ? RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr)
                        : RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr)) ==
                    ERROR_SUCCESS;
         ++index, length = 256)
        found.emplace_back(name, length);
    std::ranges::sort(found);
    return found;
}

// Sets a string value, creating the key as need be ("" names the default value).
inline void set_value(HKEY root, const std::wstring& path, const wchar_t* name = L"", const wchar_t* data = L"x")
{
    RegSetKeyValueW(root, path.c_str(), name, REG_SZ, data, static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
}

inline void delete_tree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

} // namespace server_tests
