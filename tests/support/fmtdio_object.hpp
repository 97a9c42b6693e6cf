#pragma once
// A formatted-I/O object created as a client creates it, and BSTR arguments.
#include <string_view>
#include <wrl/client.h>
#include "object/fmtdio.hpp"
#include "platform/bstr.hpp"

namespace morvane::testing {

inline Microsoft::WRL::ComPtr<IFormattedIO488> make_fmtdio()
{
    Microsoft::WRL::ComPtr<IFormattedIO488> object;
    com_object<CFmtdIOCls>::create_instance(IID_IFormattedIO488, &object);
    return object;
}

inline unique_bstr bstr(std::wstring_view text)
{
    return unique_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

} // namespace morvane::testing
