#include "error/error_record.hpp"

#include <comdef.h>
#include <string>

namespace morvane {

Microsoft::WRL::ComPtr<IErrorInfo> make_error_record(const error_record_fields& fields)
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(&created)) || !created)
        throw _com_error(E_POINTER);
    // The record copies what it is given; the setters fail only for lack of memory.
    Microsoft::WRL::ComPtr<IErrorInfo> record;
    for (const HRESULT hr :
         {created->SetDescription(const_cast<LPOLESTR>(fields.description)), created->SetGUID(fields.interface_id),
          created->SetHelpContext(fields.help_context), created->SetHelpFile(const_cast<LPOLESTR>(fields.help_file)),
          created->SetSource(const_cast<LPOLESTR>(fields.source)), created.As(&record)})
        if (FAILED(hr))
            throw _com_error(hr);
    return record;
}

HRESULT report_error(HRESULT hr, std::wstring_view description, const wchar_t* source,
                     const GUID& interface_id) noexcept
{
    try {
        const std::wstring text(description);
        SetErrorInfo(
            0, make_error_record({.description = text.c_str(), .source = source, .interface_id = interface_id}).Get());
    } catch (...) {
        SetErrorInfo(0, nullptr); // no record rather than a stale one
    }
    return hr;
}

record_text::record_text(IErrorInfo* record)
{
    record->GetDescription(description.put());
    record->GetHelpFile(help_file.put());
    record->GetSource(source.put());
    record->GetGUID(&interface_id);
    record->GetHelpContext(&help_context);
}

} // namespace morvane
