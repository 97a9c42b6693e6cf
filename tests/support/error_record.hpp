#pragma once
// Errors as one line of text (HRESULT and the five fields of the record), so that a whole
// error compares with EXPECT_EQ and a mismatch shows every field.
#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <stdexcept>
#include <string>
#include <wrl/client.h>
#include "error/error_values.hpp"
#include "error/errors.hpp"
#include "platform/bstr.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {

inline std::wstring describe(HRESULT hr, IErrorInfo* record)
{
    if (!record)
        return std::to_wstring(hr) + L" without a record";
    const auto text = [record](HRESULT (STDMETHODCALLTYPE IErrorInfo::*get)(BSTR*)) {
        BSTR value = nullptr;
        (record->*get)(&value);
        const unique_bstr owned(value);
        return std::wstring(bstr_view(value));
    };
    DWORD help_context = 0;
    GUID interface_id = GUID_NULL;
    record->GetHelpContext(&help_context);
    record->GetGUID(&interface_id);
    wchar_t guid[39] = L"";
    StringFromGUID2(interface_id, guid, 39);
    return std::to_wstring(hr) + L" [" + text(&IErrorInfo::GetDescription) + L"] [" + text(&IErrorInfo::GetSource) +
           L"] [" + text(&IErrorInfo::GetHelpFile) + L"] " + std::to_wstring(help_context) + L" " + guid;
}

inline std::wstring describe(const loc_com_error* error)
{
    return error ? describe(error->hresult(), error->error_info()) : L"no error";
}
inline std::wstring describe(const loc_com_error& error) { return describe(&error); }

// What a call returned with the thread's error information, which is taken (cleared).
inline std::wstring outcome(HRESULT hr)
{
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    GetErrorInfo(0, &record);
    return describe(hr, record.Get());
}

inline void clear_thread_error() { SetErrorInfo(0, nullptr); }

// The component's own record, and what a failing scripted session leaves.
inline std::wstring component_failure(HRESULT hr, const wchar_t* description, DWORD help_context)
{
    wchar_t guid[39] = L"";
    StringFromGUID2(IID_IFormattedIO488, guid, 39);
    return std::to_wstring(hr) + L" [" + description + L"] [Tellurix] [" + help_file_path + L"] " +
           std::to_wstring(help_context) + L" " + guid;
}
inline std::wstring session_failure(const wchar_t* description = L"link down", HRESULT hr = link_down)
{
    wchar_t guid[39] = L"";
    StringFromGUID2(IID_IMessage, guid, 39);
    return std::to_wstring(hr) + L" [" + description + L"] [" + session_source + L"] [" + session_help_file + L"] " +
           std::to_wstring(session_help_context) + L" " + guid;
}
inline std::wstring internal_failure()
{
    return component_failure(E_UNEXPECTED, L"An internal error occurred.  Please contact your I/O vendor.", 1011);
}

// The loc_com_error that step raises.
template <typename Step>
loc_com_error caught(Step&& step)
{
    try {
        step();
    } catch (const loc_com_error& error) {
        return error;
    }
    throw std::logic_error("no loc_com_error raised");
}

} // namespace morvane::testing
