#pragma once
// A recursive lock with the BasicLockable shape, so std::lock_guard can hold it.
#include <windows.h>

namespace morvane {

class critical_section {
public:
    critical_section() noexcept { InitializeCriticalSectionAndSpinCount(&section_, 0); }
    ~critical_section() { DeleteCriticalSection(&section_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;

    void lock() noexcept { EnterCriticalSection(&section_); }
    void unlock() noexcept { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

} // namespace morvane
