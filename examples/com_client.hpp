#pragma once
// What the examples share: COM on the thread, BSTRs that free themselves, calls checked with
// the error information the object left, and objects made by program identifier.
#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>
#include <cstdio>
#include <string>

using Microsoft::WRL::ComPtr;

// A failed call: its name, its HRESULT and the description that the object left.
struct com_failure {
    std::wstring call;
    HRESULT hr;
    std::wstring description;
};

// A BSTR that frees itself.
class bstr {
public:
    explicit bstr(const wchar_t* text = nullptr) : m_text(text ? SysAllocString(text) : nullptr) {}
    ~bstr() { SysFreeString(m_text); }
    bstr(const bstr&) = delete;
    bstr& operator=(const bstr&) = delete;
    BSTR get() const { return m_text; }
    // clang-format off
    BSTR* put() { SysFreeString(m_text); m_text = nullptr; return &m_text; }
    // clang-format on

private:
    BSTR m_text;
};

// Throws a failure, with the error information taken at once: a later call may replace it.
inline void check(HRESULT hr, const std::wstring& call)
{
    if (SUCCEEDED(hr))
        return;
    com_failure failure{call, hr, L"(no error information)"};
    ComPtr<IErrorInfo> info;
    bstr description;
    if (GetErrorInfo(0, &info) == S_OK && SUCCEEDED(info->GetDescription(description.put())) && description.get())
        failure.description = description.get();
    throw failure;
}

// COM on this thread for as long as the object lives.
struct com_apartment {
    com_apartment() { check(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), L"CoInitializeEx"); }
    ~com_apartment() { CoUninitialize(); }
    com_apartment(const com_apartment&) = delete;
    com_apartment& operator=(const com_apartment&) = delete;
};

// The object that creates a registered class by its program identifier.
template<typename Interface> ComPtr<Interface> create(const wchar_t* program_id)
{
    CLSID class_id;
    if (const HRESULT hr = CLSIDFromProgID(program_id, &class_id); FAILED(hr))
        throw com_failure{L"CLSIDFromProgID(" + std::wstring(program_id) + L")", hr,
                          L"No class is registered under this name."};
    ComPtr<Interface> object;
    check(CoCreateInstance(class_id, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)),
          L"CoCreateInstance(" + std::wstring(program_id) + L")");
    return object;
}

// Says what failed on the error stream; the program's exit code.
inline int report(const com_failure& failure)
{
    std::fprintf(stderr, "%ls failed: HRESULT 0x%08lX\n  %ls\n", failure.call.c_str(),
                 static_cast<unsigned long>(failure.hr), failure.description.c_str());
    return 1;
}
