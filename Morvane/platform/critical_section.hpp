#pragma once
// Locks with the BasicLockable shape, so std::lock_guard can hold them.
#include <windows.h>
#include "platform/platform_error.hpp"

namespace morvane {

// Recursive. Creation raises platform_error when the platform cannot set the section up.
class critical_section {
public:
    critical_section()
    {
        if (!InitializeCriticalSectionAndSpinCount(&m_section, 0))
            throw platform_error("InitializeCriticalSectionAndSpinCount", HRESULT_FROM_WIN32(GetLastError()));
    }
    ~critical_section() { DeleteCriticalSection(&m_section); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    void lock() noexcept { EnterCriticalSection(&m_section); }
    void unlock() noexcept { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

// Not recursive, and it cannot fail: fit for a module-wide lock that exists before any code runs.
class slim_lock {
public:
    constexpr slim_lock() noexcept = default;
    slim_lock(const slim_lock&) = delete;
    slim_lock& operator=(const slim_lock&) = delete;

    void lock() noexcept { AcquireSRWLockExclusive(&m_lock); }
    void unlock() noexcept { ReleaseSRWLockExclusive(&m_lock); }

private:
    SRWLOCK m_lock = SRWLOCK_INIT;
};

} // namespace morvane
