#pragma once
// A failed platform call, as the platform layer raises it: the call's name and its result.
// The layers above turn it into errors of their own.
#include <windows.h>
#include <stdexcept>

namespace morvane {

class platform_error : public std::runtime_error {
public:
    platform_error(const char* call, HRESULT hr) : std::runtime_error(call), m_hr(hr) {}
    HRESULT hresult() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

// An allocation by the platform (an array, a string) that found no memory.
class platform_allocation_error : public platform_error {
public:
    explicit platform_allocation_error(const char* call) : platform_error(call, E_OUTOFMEMORY) {}
};

} // namespace morvane
