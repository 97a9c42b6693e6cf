#pragma once
// What the build ships (the bin folder, MORVANE_BIN_FROM_TESTS from the program's own), run to its end, and
// the registry values that installing it writes.
#include <windows.h>
#include <optional>
#include <string>
#include "platform/unique_any.hpp"

namespace morvane::testing {

inline std::wstring shipped_file(const std::wstring& name)
{
    wchar_t path[MAX_PATH];
    std::wstring relative(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
    relative = relative.substr(0, relative.find_last_of(L'\\')) + L"\\" MORVANE_BIN_FROM_TESTS L"\\" + name;
    return std::wstring(path, GetFullPathNameW(relative.c_str(), MAX_PATH, path, nullptr));
}

inline std::wstring quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// A program's exit code, -1 when it did not start; not through the command interpreter, whose quoting varies.
inline int run(const std::wstring& program, const std::wstring& arguments)
{
    using handle = morvane::unique_any<HANDLE, &CloseHandle>;
    std::wstring command = quoted(program) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return -1;
    const handle process(started.hProcess), thread(started.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(process.get(), &code))
        return -1;
    return static_cast<int>(code);
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
