#pragma once
// The exception family. The lower half (bad_pointer, win32_error, win32_hresult_error)
// carries a text and a code and is raised next to platform calls and argument checks;
// the upper half (loc_com_error and its subclasses) carries a complete error-information
// record and the HRESULT that the interface boundary returns.
#include <windows.h>
#include <oaidl.h>
#include <comdef.h>
#include <wrl/client.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include "error/messages.hpp"

namespace morvane {

using Microsoft::WRL::ComPtr;

[[noreturn]] void throw_session_error(HRESULT hr);

// A null or unusable pointer argument; the boundary answers E_POINTER without a record.
class bad_pointer : public std::runtime_error {
public:
    bad_pointer();
};

class win32_error : public std::runtime_error {
public:
    win32_error();
    const char* what() const noexcept override { return m_message.c_str(); }
    // The code as an HRESULT: zero and negative codes unchanged, others as 0x8007xxxx.
    virtual HRESULT hresult() const noexcept;

protected:
    explicit win32_error(std::string message, DWORD code = 0);
    std::string m_message;
    DWORD m_code = 0;
};

class win32_hresult_error : public win32_error {
public:
    win32_hresult_error(message_id message, HRESULT hr);
    HRESULT hresult() const noexcept override { return m_hr; }

private:
    HRESULT m_hr;
};

class loc_com_error : public std::runtime_error {
public:
    // From a message of the table.
    loc_com_error(message_id message, DWORD help_context, const wchar_t* help_file, const wchar_t* source,
                  const GUID& interface_id, HRESULT hr);
    // From a description that is already formatted.
    loc_com_error(std::wstring_view description, DWORD help_context, const wchar_t* help_file, const wchar_t* source,
                  const GUID& interface_id, HRESULT hr);
    // From the platform's COM support error; the interface is always the given one.
    loc_com_error(const _com_error& error, const GUID& interface_id);
    loc_com_error(const loc_com_error& other);
    loc_com_error& operator=(const loc_com_error&) = delete;
    ~loc_com_error() override = default;

    const char* what() const noexcept override { return m_message.c_str(); }
    HRESULT hresult() const noexcept { return m_hr; }

    // Publishes the record as the calling thread's error information; returns the HRESULT.
    virtual HRESULT report() const;
    // Takes over the thread's error information (a session's) as this error's record;
    // raises _com_error(E_POINTER) when the thread has none.
    virtual void load_thread_error_info();

protected:
    struct session_failure {};
    // A session's failure: its HRESULT now, its record from the thread right after.
    loc_com_error(session_failure, HRESULT hr);
    void set_error_info(const wchar_t* description, DWORD help_context, const wchar_t* help_file, const wchar_t* source,
                        const GUID& interface_id, HRESULT hr);
    std::string m_message;

private:
    ComPtr<IErrorInfo> m_record;
    HRESULT m_hr = S_OK;

    friend void throw_session_error(HRESULT hr);
};

// A platform failure (the win32 half) as a record of the component.
class win32_com_error : public loc_com_error {
public:
    win32_com_error(const win32_error& error, DWORD help_context, const GUID& interface_id);
};

// Message 2009 with E_UNEXPECTED: what a failure of unknown kind becomes.
class internal_com_error : public loc_com_error {
public:
    explicit internal_com_error(const GUID& interface_id);
};

// A record of the component: interface IFormattedIO488, source "Tellurix", the component's help file.
loc_com_error component_error(const component_message& message);
[[noreturn]] void raise(const component_message& message);

// Raises a failed session call's HRESULT with the error information the session left on
// the thread, unchanged (declared above).

// Runs a session call and raises its failure.
inline void check_session(HRESULT hr)
{
    if (FAILED(hr))
        throw_session_error(hr);
}

} // namespace morvane
