#pragma once
// IUnknown for a session object that offers IMessage alone: a reference count that any thread
// may change, and deletion with the last reference. The object starts with one reference,
// which its creator hands over.
#include <windows.h>
#include <atomic>
#include <visacom.h>

namespace morvane {

template <typename Session>
class message_object : public IMessage {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IMessage)) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = static_cast<IMessage*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete static_cast<Session*>(this);
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};

} // namespace morvane
