#include "object/class_ids.hpp"

#include <oleauto.h>
#include <wrl/client.h>
#include "error/resource_string.hpp"

namespace morvane {

HRESULT class_type_info(ITypeInfo** type_info) noexcept
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(this_module(), path, MAX_PATH))
        return HRESULT_FROM_WIN32(GetLastError());
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &library); FAILED(hr))
        return hr;
    return library->GetTypeInfoOfGuid(CLSID_FmtdIOCls, type_info);
}

} // namespace morvane
