#include "bench_session.hpp"

#include <algorithm>
#include <cstring>

STDMETHODIMP bench_session::QueryInterface(REFIID riid, void** out)
{
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IMessage)) {
        *out = static_cast<IMessage*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP bench_session::Write(SAFEARRAY** buffer, LONG count, LONG* written)
{
    written_ += (*buffer)->rgsabound[0].cElements;
    *written = count;
    return S_OK;
}

STDMETHODIMP bench_session::Read(LONG count, SAFEARRAY** buffer)
{
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), lent_.size() - position_);
    *buffer = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n));
    if (!*buffer)
        return E_OUTOFMEMORY;
    void* data = nullptr;
    SafeArrayAccessData(*buffer, &data);
    std::memcpy(data, lent_.data() + position_, n);
    SafeArrayUnaccessData(*buffer);
    position_ += n;
    status_ = position_ == lent_.size() ? 0 : 0x00040006;
    return S_OK;
}
