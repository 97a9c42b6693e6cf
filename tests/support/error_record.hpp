#pragma once
// Errors as one line of text (HRESULT and the record's five fields): a mismatch shows every field.
#include <windows.h>
#include <charconv>
#include <string>
#include <wrl/client.h>
#include "error/error_values.hpp"
#include "error/errors.hpp"
#include "platform/bstr.hpp"
#include "support/documented_values.hpp"
#include "support/scripted_session.hpp"

namespace morvane::testing {

inline std::wstring error_line(HRESULT hr, std::wstring_view description, std::wstring_view source,
                               std::wstring_view help_file, DWORD help_context, const GUID& interface_id)
{
    wchar_t guid[39] = L"";
    StringFromGUID2(interface_id, guid, 39);
    return std::to_wstring(hr) + L" [" + std::wstring(description) + L"] [" + std::wstring(source) + L"] [" +
           std::wstring(help_file) + L"] " + std::to_wstring(help_context) + L" " + guid;
}

inline std::wstring describe(HRESULT hr, IErrorInfo* record)
{
    if (!record)
        return std::to_wstring(hr) + L" without a record";
    BSTR text[3] = {};
    DWORD help_context = 0;
    GUID interface_id = GUID_NULL;
    record->GetDescription(&text[0]);
    record->GetSource(&text[1]);
    record->GetHelpFile(&text[2]);
    record->GetHelpContext(&help_context);
    record->GetGUID(&interface_id);
    const unique_bstr owned[3] = {unique_bstr(text[0]), unique_bstr(text[1]), unique_bstr(text[2])};
    return error_line(hr, bstr_view(text[0]), bstr_view(text[1]), bstr_view(text[2]), help_context, interface_id);
}
// What a call returned with the thread's error information, which is taken (cleared).
inline std::wstring outcome(HRESULT hr)
{
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    GetErrorInfo(0, &record);
    return describe(hr, record.Get());
}
inline void clear_thread_error() { SetErrorInfo(0, nullptr); }

// An HRESULT or a status as the sessions' tests print it: lower-case hexadecimal, no prefix.
inline std::string hex(long value)
{
    char text[16];
    return {text, std::to_chars(text, text + sizeof text, static_cast<unsigned long>(value), 16).ptr};
}

// The component's own record; what a failing scripted session leaves; the internal error.
inline std::wstring component_failure(HRESULT hr, const wchar_t* description, DWORD help_context)
{
    return error_line(hr, description, L"Tellurix", help_file_path, help_context, IID_IFormattedIO488);
}
inline std::wstring session_failure(const wchar_t* description = L"link down", HRESULT hr = link_down)
{
    return error_line(hr, description, session_source, session_help_file, session_help_context, IID_IMessage);
}
inline std::wstring internal_failure()
{
    return component_failure(E_UNEXPECTED, L"An internal error occurred.  Please contact your I/O vendor.", 1011);
}

// The parser's failures: no number, a failed parse, an empty response, the item that does not fit.
// clang-format off
inline std::wstring no_number() { return component_failure(data_failure, L"Couldn't interpret I/O data as single number.", 1049); }
// clang-format on
inline std::wstring not_parsed() { return component_failure(data_failure, L"Could not parse I/O data", 1034); }
inline std::wstring terminated() { return component_failure(data_failure, L"Unexpected I/O data termination", 1034); }
inline std::wstring item_failure(int item, bool real)
{
    // The platform breaks the line where it goes beyond 80 characters.
    const std::wstring text = L"Unexpected I/O termination or couldn't convert list item # " + std::to_wstring(item) +
                              (real ? L" to floating point\r\nformat" : L" to\r\nlong/integer/byte format");
    return component_failure(data_failure, text.c_str(), 1034);
}

} // namespace morvane::testing
