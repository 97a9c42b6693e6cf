#include "registry_view.hpp"

#include <algorithm>
#include <memory>
#include <type_traits>

namespace server_tests {
namespace {

struct key_close {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using unique_key = std::unique_ptr<std::remove_pointer_t<HKEY>, key_close>;

unique_key open(HKEY root, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS)
        return nullptr;
    return unique_key(key);
}

} // namespace

bool key_exists(HKEY root, const std::wstring& path)
{
    return open(root, path) != nullptr;
}

std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name)
{
    const unique_key key = open(root, path);
    if (!key)
        return std::nullopt;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return std::nullopt;
    std::wstring data(size / sizeof(wchar_t), L'\0');
    if (RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0')
        data.pop_back();
    return data;
}

std::vector<std::wstring> subkey_names(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    const unique_key key = open(root, path);
    wchar_t name[256];
    for (DWORD index = 0; key; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::ranges::sort(names);
    return names;
}

std::vector<std::wstring> value_names(HKEY root, const std::wstring& path)
{
    std::vector<std::wstring> names;
    const unique_key key = open(root, path);
    wchar_t name[256];
    for (DWORD index = 0; key; ++index) {
        DWORD length = 256;
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::ranges::sort(names);
    return names;
}

void create_key(HKEY root, const std::wstring& path, const wchar_t* default_value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const unique_key owned(key);
    if (default_value)
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(default_value),
                       static_cast<DWORD>((wcslen(default_value) + 1) * sizeof(wchar_t)));
}

void set_string(HKEY root, const std::wstring& path, const wchar_t* name, const wchar_t* data)
{
    const unique_key key = open(root, path);
    if (key)
        RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                       static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
}

void delete_tree(HKEY root, const std::wstring& path)
{
    RegDeleteTreeW(root, path.c_str());
    RegDeleteKeyW(root, path.c_str());
}

} // namespace server_tests
