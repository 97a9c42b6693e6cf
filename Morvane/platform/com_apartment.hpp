#pragma once
// COM on the calling thread for the owner's life: joined in the apartment model given, left
// when the owner goes, and only when joining succeeded (a thread already in the other model
// fails to join and must not leave). Its result is for the owner to check.
#include <windows.h>
#include <objbase.h>

namespace morvane {

class com_apartment {
public:
    explicit com_apartment(DWORD model) noexcept : m_hr(CoInitializeEx(nullptr, model)) {}
    ~com_apartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;

    // CoInitializeEx's result: S_FALSE when the thread was in the apartment already.
    HRESULT result() const noexcept { return m_hr; }

private:
    const HRESULT m_hr;
};

} // namespace morvane
