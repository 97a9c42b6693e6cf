#include "com/class_objects.hpp"

#include <mutex>
#include "com/module_lock.hpp"

namespace morvane {
namespace {

class_entry* find_class(std::span<class_entry> table, REFCLSID clsid) noexcept
{
    for (class_entry& entry : table)
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

HRESULT get_class_object(std::span<class_entry> table, REFCLSID clsid, REFIID riid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    class_entry* entry = find_class(table, clsid);
    if (!entry)
        return CLASS_E_CLASSNOTAVAILABLE;
    IUnknown* object = nullptr;
    if (HRESULT hr = cached_class_object(*entry, &object); FAILED(hr))
        return hr;
    return object->QueryInterface(riid, out);
}

void release_class_objects(std::span<class_entry> table) noexcept
{
    for (class_entry& entry : table)
        if (IUnknown* object = entry.class_object.exchange(nullptr))
            object->Release();
}

} // namespace morvane
