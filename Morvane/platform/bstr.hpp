#pragma once
// Owning BSTR: freed with SysFreeString on every way out.
#include <windows.h>
#include <oleauto.h>
#include <new>
#include <string_view>
#include "platform/unique_any.hpp"

namespace morvane {

using unique_bstr = unique_any<BSTR, &SysFreeString>;

// A null BSTR stands for the empty string, as everywhere in Automation.
inline std::wstring_view bstr_view(BSTR text) noexcept
{
    return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view();
}

// A new BSTR of `text`; std::bad_alloc when there is no memory for it.
inline unique_bstr make_bstr(std::wstring_view text)
{
    unique_bstr made(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!made)
        throw std::bad_alloc();
    return made;
}

} // namespace morvane
