#include "gated_session.hpp"

#include <oleauto.h>
#include <utility>

namespace server_tests {
namespace {

std::string bytes_of(SAFEARRAY* array, LONG count)
{
    void* data = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array, &data)))
        return {};
    std::string bytes(static_cast<const char*>(data), static_cast<std::size_t>(count));
    SafeArrayUnaccessData(array);
    return bytes;
}

} // namespace

void event_log::add(std::string entry)
{
    std::lock_guard guard(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> event_log::entries() const
{
    std::lock_guard guard(mutex_);
    return entries_;
}

void gated_session::hold_first_write(event& gate, DWORD longest_hold_ms)
{
    gate_ = &gate;
    longest_hold_ms_ = longest_hold_ms;
}

long gated_session::references() const
{
    std::lock_guard guard(mutex_);
    return inner_.references();
}

STDMETHODIMP gated_session::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (InlineIsEqualGUID(riid, IID_IUnknown) || InlineIsEqualGUID(riid, IID_IMessage)) {
        *out = static_cast<IMessage*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) gated_session::AddRef()
{
    return static_cast<ULONG>(locked([](IMessage& inner) { return static_cast<HRESULT>(inner.AddRef()); }));
}

STDMETHODIMP_(ULONG) gated_session::Release()
{
    return static_cast<ULONG>(locked([](IMessage& inner) { return static_cast<HRESULT>(inner.Release()); }));
}

STDMETHODIMP gated_session::Write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    const std::string bytes = bytes_of(buffer ? *buffer : nullptr, count);
    log_.add(name_ + " enter " + bytes);
    if (event* gate = std::exchange(gate_, nullptr)) {
        held_.set();
        gate->wait(longest_hold_ms_);
    }
    const HRESULT hr = locked([&](IMessage& inner) { return inner.Write(buffer, count, written); });
    log_.add(name_ + " leave " + bytes);
    return hr;
}

STDMETHODIMP gated_session::Read(LONG count, SAFEARRAY** buffer)
{
    return locked([&](IMessage& inner) { return inner.Read(count, buffer); });
}

STDMETHODIMP gated_session::ReadString(LONG count, BSTR* text)
{
    return locked([&](IMessage& inner) { return inner.ReadString(count, text); });
}

STDMETHODIMP gated_session::get_LastStatus(LONG* status)
{
    return locked([&](IMessage& inner) { return inner.get_LastStatus(status); });
}

STDMETHODIMP gated_session::get_SendEndEnabled(VARIANT_BOOL* enabled)
{
    return locked([&](IMessage& inner) { return inner.get_SendEndEnabled(enabled); });
}

STDMETHODIMP gated_session::put_SendEndEnabled(VARIANT_BOOL enabled)
{
    return locked([&](IMessage& inner) { return inner.put_SendEndEnabled(enabled); });
}

STDMETHODIMP gated_session::get_TerminationCharacterEnabled(VARIANT_BOOL* enabled)
{
    return locked([&](IMessage& inner) { return inner.get_TerminationCharacterEnabled(enabled); });
}

STDMETHODIMP gated_session::put_TerminationCharacterEnabled(VARIANT_BOOL enabled)
{
    return locked([&](IMessage& inner) { return inner.put_TerminationCharacterEnabled(enabled); });
}

STDMETHODIMP gated_session::get_Timeout(LONG* milliseconds)
{
    return locked([&](IMessage& inner) { return inner.get_Timeout(milliseconds); });
}

STDMETHODIMP gated_session::put_Timeout(LONG milliseconds)
{
    return locked([&](IMessage& inner) { return inner.put_Timeout(milliseconds); });
}

} // namespace server_tests
