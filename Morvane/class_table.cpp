#include "class_table.hpp"

#include <mutex>
#include "com/module_lock.hpp"
#include "class_ids.hpp"
#include "object/fmtdio.hpp"
#include "resource_ids.hpp"

namespace morvane {
namespace {

class_entry classes[] = {
    {&CLSID_FmtdIOCls, MORVANE_FMTDIO_REGISTRY_SCRIPT, &create_object<CFmtdIOCls>},
};

class_entry* find_class(REFCLSID clsid) noexcept
{
    for (class_entry& entry : classes)
        if (InlineIsEqualGUID(clsid, *entry.clsid))
            return &entry;
    return nullptr;
}

// The class object of an entry, created on first use; a borrowed pointer.
HRESULT cached_class_object(class_entry& entry, IUnknown** object) noexcept
{
    *object = entry.class_object.load();
    if (*object)
        return S_OK;
    std::lock_guard guard(module_lock::creation_lock());
    *object = entry.class_object.load();
    if (*object)
        return S_OK;
    if (HRESULT hr = class_factory::create(entry.create_instance, object); FAILED(hr))
        return hr;
    entry.class_object.store(*object);
    return S_OK;
}

} // namespace

std::span<class_entry> class_table() noexcept
{
    return classes;
}

HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    class_entry* entry = find_class(clsid);
    if (!entry)
        return CLASS_E_CLASSNOTAVAILABLE;
    IUnknown* object = nullptr;
    if (HRESULT hr = cached_class_object(*entry, &object); FAILED(hr))
        return hr;
    return object->QueryInterface(riid, out);
}

void release_class_objects() noexcept
{
    for (class_entry& entry : classes)
        if (IUnknown* object = entry.class_object.exchange(nullptr))
            object->Release();
}

} // namespace morvane
