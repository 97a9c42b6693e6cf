#pragma once
// Owning BSTR: freed with SysFreeString on every way out.
#include <windows.h>
#include <oleauto.h>
#include <memory>
#include <string_view>

namespace morvane {

struct bstr_free {
    void operator()(BSTR text) const noexcept { SysFreeString(text); }
};
using unique_bstr = std::unique_ptr<OLECHAR, bstr_free>;

// A null BSTR stands for the empty string, as everywhere in Automation.
inline std::wstring_view bstr_view(BSTR text) noexcept
{
    return text ? std::wstring_view(text, SysStringLen(text)) : std::wstring_view();
}

} // namespace morvane
