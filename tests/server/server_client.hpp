#pragma once
// Morvane.dll as a client reaches it; identities written out so that a wrong one cannot agree with itself.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include <visacom.h>
#include <wrl/client.h>
#include "support/documented_values.hpp"
#include "support/shipped_files.hpp"

namespace server_tests {

template<typename T> using com_ptr = Microsoft::WRL::ComPtr<T>;
using names = std::vector<std::wstring>;

using morvane::testing::clsid_fmtdio, morvane::testing::shipped_file, morvane::testing::string_value;
inline constexpr IID iid_formatted_io = {0xdb8cbf1a, 0xd6d3, 0x11d4, {0xaa, 0x51, 0x00, 0xa0, 0x24, 0xee, 0x30, 0xbd}};

// The module loaded by path; exports called by name through void (*)(), which converts unwarned.
struct server_module {
    explicit server_module(const std::wstring& path) : module(LoadLibraryW(path.c_str()), &FreeLibrary) {}
    template<typename... Args> HRESULT call(const char* name, Args... args) const
    {
        const auto entry = reinterpret_cast<void (*)()>(GetProcAddress(module.get(), name));
        return reinterpret_cast<HRESULT(STDAPICALLTYPE*)(Args...)>(entry)(args...);
    }
    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module;
};

// The sorted names of a key's subkeys or values (the default as ""); nothing when the key is missing.
inline std::optional<names> names_in(HKEY root, const std::wstring& path, bool values = false)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    names found;
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         (values ? RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)
                 : RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr)) == ERROR_SUCCESS;
         ++index, length = 256)
        found.emplace_back(name, length);
    RegCloseKey(key);
    std::ranges::sort(found);
    return found;
}

// A key's values ("@" the default) and subkeys, sorted: "Name=data, Sub{...}".
inline std::wstring tree(HKEY root, const std::wstring& path = L"")
{
    std::wstring text;
    for (const std::wstring& name : names_in(root, path, true).value_or(names{}))
        text += (text.empty() ? L"" : L", ") + (name.empty() ? L"@" : name) + L"=" +
                string_value(root, path, name.c_str()).value_or(L"(not a string)");
    for (const std::wstring& key : names_in(root, path).value_or(names{}))
        text += (text.empty() ? L"" : L", ") + key + L"{" + tree(root, path.empty() ? key : path + L"\\" + key) + L"}";
    return text;
}

inline void set_value(HKEY root, const std::wstring& path, const wchar_t* name = L"")
{
    RegSetKeyValueW(root, path.c_str(), name, REG_SZ, L"x", 2 * sizeof(wchar_t));
}

} // namespace server_tests
