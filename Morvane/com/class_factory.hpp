#pragma once
// The class object of a creatable class: one per class, created on the first request,
// cached by the class table, which holds one reference to it for the module.
//
// Counting: the module's own reference is count 1. A client reference on top of it (the
// count reaching 2) takes a module lock, and dropping back to 1 gives it back, so a client
// that holds the class object keeps the module loaded while the cache alone does not. The
// count reaches 0 only when the module drops its reference at unload.
#include <windows.h>
#include <unknwn.h>
#include <atomic>

namespace morvane {

// Makes an instance of a class: stand-alone when outer is null, aggregated otherwise.
using instance_creator = HRESULT (*)(IUnknown* outer, REFIID riid, void** out) noexcept;

class class_factory final : public IClassFactory {
public:
    // A new class object's IUnknown with count 1, the reference that the cache keeps.
    static HRESULT create(instance_creator creator, IUnknown** cached) noexcept;

    // IUnknown: IUnknown and IClassFactory, nothing else.
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    explicit class_factory(instance_creator creator) noexcept : m_creator(creator) {}
    ~class_factory() = default;

    std::atomic<long> m_count{0};
    instance_creator m_creator;
};

} // namespace morvane
