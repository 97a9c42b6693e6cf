#pragma once
// An error as one line of text (HRESULT and the five fields of its record), so that a whole
// error compares with EXPECT_EQ and a mismatch shows every field.
#include <windows.h>
#include <objbase.h>
#include <stdexcept>
#include <string>
#include "error/errors.hpp"
#include "support/error_record.hpp"

namespace morvane::testing {

inline std::wstring describe(HRESULT hr, const error_record& record)
{
    wchar_t guid[39] = L"";
    StringFromGUID2(record.interface_id, guid, 39);
    return std::to_wstring(hr) + L" [" + record.description + L"] [" + record.source + L"] [" + record.help_file +
           L"] " + std::to_wstring(record.help_context) + L" " + guid;
}

inline std::wstring describe(const loc_com_error* error)
{
    if (!error || !error->error_info())
        return error ? L"no record" : L"no error";
    return describe(error->hresult(), read_record(error->error_info()));
}

inline std::wstring describe(const loc_com_error& error) { return describe(&error); }

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
