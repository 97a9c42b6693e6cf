#pragma once
// IUnknown for an implementation class, kept apart from the class itself.
//
// The class lists the interfaces it answers:
//     using interfaces = interface_list<IFormattedIO488, ISupportErrorInfo, IProvideClassInfo2>;
// The first one is the object's identity and answers for IUnknown. QueryInterface walks the
// list in order and answers nothing else.
//
// com_object<T> is the stand-alone form: its own atomic count, one module lock for its life.
#include <windows.h>
#include <unknwn.h>
#include <atomic>
#include <tuple>
#include <new>
#include "module_lock.hpp"

namespace morvane {

template <typename... Interfaces>
struct interface_list {
    // The pointer for riid in `object`, or null; IUnknown is the first interface.
    template <typename Object>
    static IUnknown* find(Object* object, REFIID riid) noexcept
    {
        using identity = std::tuple_element_t<0, std::tuple<Interfaces...>>;
        if (InlineIsEqualGUID(riid, IID_IUnknown))
            return static_cast<identity*>(object);
        IUnknown* found = nullptr;
        ((InlineIsEqualGUID(riid, __uuidof(Interfaces)) && (found = static_cast<Interfaces*>(object))) || ...);
        return found;
    }
};

// QueryInterface over the class's interface list, for any IUnknown implementation.
template <typename Object>
HRESULT query_interface(Object* object, REFIID riid, void** out) noexcept
{
    if (!out)
        return E_POINTER;
    IUnknown* found = Object::interfaces::find(object, riid);
    *out = found;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

template <typename T>
class com_object final : public T {
public:
    // A new object with no reference yet; null when memory runs out.
    static com_object* create() noexcept { return new (std::nothrow) com_object(); }

    // A new object, queried for riid; the caller receives the one reference.
    static HRESULT create_instance(REFIID riid, void** out) noexcept
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        com_object* object = create();
        if (!object)
            return E_OUTOFMEMORY;
        object->AddRef();
        const HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return query_interface(this, riid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++count_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const long count = --count_;
        if (count == 0) {
            // Keep the module from looking unloadable while the teardown runs.
            module_lock::add();
            delete this;
            module_lock::release();
        }
        return static_cast<ULONG>(count);
    }

private:
    com_object() { module_lock::add(); }
    ~com_object() override
    {
        // References taken and dropped by the teardown must not start a second destruction.
        count_ = static_cast<long>(0xC0000001);
        module_lock::release();
    }

    std::atomic<long> count_{0};
};

} // namespace morvane
