#pragma once
// Error records (IErrorInfo): made, published as the thread's error information, read back.
#include <windows.h>
#include <oaidl.h>
#include <string_view>
#include <wrl/client.h>
#include "platform/bstr.hpp"

namespace morvane {

struct error_record_fields {
    const wchar_t* description = nullptr;
    const wchar_t* source = nullptr;
    GUID interface_id = GUID_NULL;
    const wchar_t* help_file = nullptr;
    DWORD help_context = 0;
};

// A new record of the fields; raises _com_error when the platform cannot make one.
Microsoft::WRL::ComPtr<IErrorInfo> make_error_record(const error_record_fields& fields);

// A session's or tool's failure: a new record as the thread's error information (none when the
// platform cannot make one), and `hr` back.
HRESULT report_error(HRESULT hr, std::wstring_view description, const wchar_t* source,
                     const GUID& interface_id) noexcept;

// The fields of a record, read back.
struct record_text {
    unique_bstr description, help_file, source;
    GUID interface_id = GUID_NULL;
    DWORD help_context = 0;

    explicit record_text(IErrorInfo* record);
};

} // namespace morvane
