#pragma once
// Reading and arranging registry keys for assertions, below a given root key.
#include <windows.h>
#include <optional>
#include <string>
#include <vector>

namespace server_tests {

bool key_exists(HKEY root, const std::wstring& path);
// A REG_SZ value (an empty name is the default value); nothing when the key or value is
// missing or not a string.
std::optional<std::wstring> string_value(HKEY root, const std::wstring& path, const wchar_t* name = L"");
// Subkey names, sorted; value names, sorted (the default value as "").
std::vector<std::wstring> subkey_names(HKEY root, const std::wstring& path);
std::vector<std::wstring> value_names(HKEY root, const std::wstring& path);

void create_key(HKEY root, const std::wstring& path, const wchar_t* default_value = nullptr);
void set_string(HKEY root, const std::wstring& path, const wchar_t* name, const wchar_t* data);
void delete_tree(HKEY root, const std::wstring& path);

} // namespace server_tests
