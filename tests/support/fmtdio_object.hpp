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

// A VARIANT_BOOL argument: when true, -1, 1 and 0x7FFF in turn, since every non-zero value must count as true.
inline VARIANT_BOOL truth(bool value)
{
    static const VARIANT_BOOL trues[] = {VARIANT_TRUE, 1, 0x7FFF};
    static unsigned next = 0;
    return value ? trues[next++ % 3] : VARIANT_FALSE;
}

inline unique_bstr bstr(std::wstring_view text)
{
    return unique_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

} // namespace morvane::testing
