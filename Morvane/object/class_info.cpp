#include "object/class_info.hpp"

#include <oleauto.h>
#include <atomic>
#include <mutex>
#include <wrl/client.h>
#include "class_ids.hpp"
#include "com/module_lock.hpp"
#include "platform/module_path.hpp"
#include "platform/this_module.hpp"

namespace morvane {
namespace {

// Loaded once under the module lock; the module holds this one reference until it unloads.
std::atomic<ITypeInfo*> cached_info{nullptr};

// The type library that the module carries: the class information always matches the code
// that serves the class, whatever version the registry holds.
HRESULT load_class_type_info(ITypeInfo** type_info) noexcept
{
    std::wstring path;
    if (HRESULT hr = module_file_name(this_module(), path); FAILED(hr))
        return hr;
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library); FAILED(hr))
        return hr;
    return library->GetTypeInfoOfGuid(CLSID_FmtdIOCls, type_info);
}

} // namespace

HRESULT class_type_info(ITypeInfo** type_info) noexcept
{
    *type_info = nullptr;
    ITypeInfo* info = cached_info.load();
    if (!info) {
        std::lock_guard guard(module_lock::creation_lock());
        info = cached_info.load();
        if (!info) {
            if (HRESULT hr = load_class_type_info(&info); FAILED(hr))
                return hr;
            cached_info.store(info);
        }
    }
    info->AddRef();
    *type_info = info;
    return S_OK;
}

void release_class_type_info() noexcept
{
    if (ITypeInfo* info = cached_info.exchange(nullptr))
        info->Release();
}

} // namespace morvane
