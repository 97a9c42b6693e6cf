#pragma once
// What the build ships, as a test program finds and runs it: the files of the bin folder (named
// by MORVANE_BIN_FROM_TESTS, relative to the program's own folder), programs run to their end,
// and the registry values that installing them writes.
#include <windows.h>
#include <cstdlib>
#include <optional>
#include <string>

namespace morvane::testing {

inline std::wstring shipped_file(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    std::wstring relative(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    relative = relative.substr(0, relative.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\" + name;
    return std::wstring(path, GetFullPathNameW(relative.c_str(), MAX_PATH, path, nullptr));
}

inline std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Runs a program to its end through the command interpreter, which wants the whole line quoted.
inline int run(const std::wstring& program, const std::wstring& arguments)
{
    return _wsystem(quoted(quoted(program) + L" " + arguments).c_str());
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

} // namespace morvane::testing
