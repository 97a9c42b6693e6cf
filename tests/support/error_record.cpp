#include "support/error_record.hpp"

#include <oleauto.h>
#include <wrl/client.h>
#include "platform/bstr.hpp"

namespace morvane::testing {
namespace {

std::wstring take_text(HRESULT hr, BSTR text)
{
    unique_bstr owned(text);
    return SUCCEEDED(hr) && text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

} // namespace

error_record read_record(IErrorInfo* record)
{
    error_record fields;
    BSTR text = nullptr;
    HRESULT hr = record->GetDescription(&text);
    fields.description = take_text(hr, text);
    text = nullptr;
    hr = record->GetSource(&text);
    fields.source = take_text(hr, text);
    text = nullptr;
    hr = record->GetHelpFile(&text);
    fields.help_file = take_text(hr, text);
    record->GetHelpContext(&fields.help_context);
    record->GetGUID(&fields.interface_id);
    return fields;
}

std::optional<error_record> take_thread_error()
{
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    if (GetErrorInfo(0, &record) != S_OK || !record)
        return std::nullopt;
    return read_record(record.Get());
}

void clear_thread_error()
{
    SetErrorInfo(0, nullptr);
}

} // namespace morvane::testing
