#pragma once
// IUnknown for an implementation class, kept apart from the class itself.
//
// The class lists the interfaces it answers:
//     using interfaces = interface_list<IFormattedIO488, ISupportErrorInfo, IProvideClassInfo2>;
// The first one is the object's identity and answers for IUnknown. QueryInterface walks the
// list in order and answers nothing else.
//
// Two forms wrap the class:
//   com_object<T>        stand-alone: its own atomic count.
//   aggregate_object<T>  aggregated: the inner IUnknown with its own count, holding a
//                        contained_object<T> whose interfaces' IUnknown methods go to the
//                        outer (controlling) object.
// Each form holds one module lock for its whole life, and one more while it is torn down,
// so DllCanUnloadNow never answers S_OK while an object exists.
//
// create_object<T>(outer, riid, out) makes the form that `outer` calls for.
#include <windows.h>
#include <unknwn.h>
#include <atomic>
#include <tuple>
#include <new>
#include <utility>
#include <wrl/client.h>
#include "platform/platform_error.hpp"
#include "com/module_lock.hpp"

namespace morvane {

template<typename... Interfaces> struct interface_list {
    // The pointer for riid in `object`, or null; IUnknown is the first interface.
    template<typename Object> static IUnknown* find(Object* object, REFIID riid) noexcept
    {
        using identity = std::tuple_element_t<0, std::tuple<Interfaces...>>;
        if (InlineIsEqualGUID(riid, IID_IUnknown))
            return static_cast<identity*>(object);
        IUnknown* found = nullptr;
        ((InlineIsEqualGUID(riid, __uuidof(Interfaces)) && (found = static_cast<Interfaces*>(object))) || ...);
        return found;
    }
};

// QueryInterface over the class's interface list, for any IUnknown implementation. The
// reference goes through the found interface, so a contained object counts on its outer one.
template<typename Object> HRESULT query_interface(Object* object, REFIID riid, void** out) noexcept
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

// The reference count of an object form. It is a base listed before the implementation, so
// it outlives the implementation's destructor: references taken and dropped during the
// teardown find the guard value and cannot start a second destruction.
class object_count {
protected:
    // Far from zero in either direction, whatever the teardown does to it.
    static constexpr long destroyed = static_cast<long>(0xC0000001);

    object_count() noexcept { module_lock::add(); }
    ~object_count() = default;

    ULONG add_ref() noexcept { return static_cast<ULONG>(++m_count); }

    // Destroys `self` when the count reaches 0; the extra module lock covers the teardown.
    template<typename Self> ULONG release(Self* self) noexcept
    {
        const long count = --m_count;
        if (count == 0) {
            module_lock::add();
            delete self;
            module_lock::release();
        }
        return static_cast<ULONG>(count);
    }

    // First step of every form's destructor: the guard, then the object's own module lock.
    void begin_destruction() noexcept
    {
        m_count = destroyed;
        module_lock::release();
    }

private:
    std::atomic<long> m_count{0};
};

// Makes a new object form and queries it for riid: the caller receives the one reference, and
// a failing query destroys the object again. What the construction raises becomes the HRESULT.
template<typename Form, typename... Args> HRESULT create_form(REFIID riid, void** out, Args... args) noexcept
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    Form* object = nullptr;
    try {
        object = new Form(args...);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const platform_error& error) {
        return error.hresult();
    } catch (...) {
        return E_UNEXPECTED;
    }
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();
    return hr;
}

template<typename T> class com_object final : private object_count, public T {
public:
    static HRESULT create_instance(REFIID riid, void** out) noexcept { return create_form<com_object>(riid, out); }
    // A new object made from `args`, as its interface `Interface` with the one reference; what
    // the construction raises passes through.
    template<typename Interface, typename... Args> static Microsoft::WRL::ComPtr<Interface> make(Args&&... args)
    {
        return Microsoft::WRL::ComPtr<Interface>(static_cast<Interface*>(new com_object(std::forward<Args>(args)...)));
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return query_interface(this, riid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return add_ref(); }
    STDMETHODIMP_(ULONG) Release() override { return release(this); }

private:
    friend class object_count; // destroys the object on the last Release
    template<typename Form, typename... Args>
    friend HRESULT create_form(REFIID riid, void** out, Args... args) noexcept;

    template<typename... Args> explicit com_object(Args&&... args) : T(std::forward<Args>(args)...) {}
    ~com_object() override
    {
        begin_destruction();
        // An object whose threads call out with its own pointer stops them while it is whole.
        if constexpr (requires(T & object) { object.before_destruction(); })
            T::before_destruction();
    }
};

// T inside an aggregate: every interface's IUnknown is the outer object's.
template<typename T> class contained_object final : public T {
public:
    // The outer object is not counted: it owns the aggregate, not the other way round.
    explicit contained_object(IUnknown* outer) noexcept : m_outer(outer) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return m_outer->QueryInterface(riid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return m_outer->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_outer->Release(); }

    // The table walk, for the inner unknown; the reference it gives goes to the outer object.
    HRESULT query_table(REFIID riid, void** out) noexcept { return query_interface(this, riid, out); }

private:
    IUnknown* m_outer;
};

template<typename T> class aggregate_object final : private object_count, public IUnknown {
public:
    // A new aggregate inside `outer`, queried for riid (in practice IUnknown, so the outer
    // object receives the inner unknown with its one reference).
    static HRESULT create_instance(IUnknown* outer, REFIID riid, void** out) noexcept
    {
        return create_form<aggregate_object>(riid, out, outer);
    }

    // IUnknown answers the inner unknown itself; everything else comes from the table.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (InlineIsEqualGUID(riid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained.query_table(riid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return add_ref(); }
    STDMETHODIMP_(ULONG) Release() override { return release(this); }

private:
    friend class object_count; // destroys the object on the last Release
    template<typename Form, typename... Args>
    friend HRESULT create_form(REFIID riid, void** out, Args... args) noexcept;

    explicit aggregate_object(IUnknown* outer) noexcept : m_contained(outer) {}
    ~aggregate_object() { begin_destruction(); }

    contained_object<T> m_contained;
};

// The instance creator of a class: stand-alone without an outer object, aggregated with one.
// The class object has already refused an outer object with any interface but IUnknown.
template<typename T> HRESULT create_object(IUnknown* outer, REFIID riid, void** out) noexcept
{
    return outer ? aggregate_object<T>::create_instance(outer, riid, out) : com_object<T>::create_instance(riid, out);
}

} // namespace morvane
