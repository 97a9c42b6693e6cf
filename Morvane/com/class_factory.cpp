#include "com/class_factory.hpp"

#include <new>
#include "com/module_lock.hpp"

namespace morvane {

HRESULT class_factory::create(instance_creator creator, IUnknown** cached) noexcept
{
    *cached = nullptr;
    auto* factory = new (std::nothrow) class_factory(creator);
    if (!factory)
        return E_OUTOFMEMORY;
    return factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(cached));
}

STDMETHODIMP class_factory::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) class_factory::AddRef()
{
    const long count = ++m_count;
    if (count == 2)
        module_lock::add();
    return static_cast<ULONG>(count);
}

STDMETHODIMP_(ULONG) class_factory::Release()
{
    const long count = --m_count;
    if (count == 1)
        module_lock::release();
    else if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP class_factory::CreateInstance(IUnknown* outer, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    // An aggregating object must hold the inner unknown, or it could not control the aggregate.
    if (outer && !InlineIsEqualGUID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_creator(outer, riid, out);
}

STDMETHODIMP class_factory::LockServer(BOOL lock)
{
    if (lock)
        module_lock::add();
    else
        module_lock::release();
    return S_OK;
}

} // namespace morvane
