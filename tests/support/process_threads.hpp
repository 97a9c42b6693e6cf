#pragma once
// The threads of this process, for tests that check that what a session starts, it ends.
#include <windows.h>
#include <tlhelp32.h>
#include <cstddef>
#include "platform/unique_any.hpp"

namespace morvane::testing {

inline std::size_t threads_of_this_process()
{
    const unique_any<HANDLE, &CloseHandle> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    std::size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

} // namespace morvane::testing
