#include "bench_session.hpp"

#include <algorithm>
#include <cstring>
#include "platform/safearray.hpp"
#include "session_codes.hpp"

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
    m_written += (*buffer)->rgsabound[0].cElements;
    *written = count;
    return S_OK;
}

STDMETHODIMP bench_session::Read(LONG count, SAFEARRAY** buffer)
{
    *buffer = nullptr;
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(count), m_lent.size() - m_position);
    morvane::unique_safearray made(SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(n)));
    if (!made)
        return E_OUTOFMEMORY;
    try {
        const morvane::safearray_data data(made.get());
        std::memcpy(data.bytes(), m_lent.data() + m_position, n);
    } catch (const morvane::safearray_error& error) {
        return error.hresult();
    }
    m_position += n;
    m_status = m_position == m_lent.size() ? morvane::session::status_end : morvane::session::status_count_reached;
    *buffer = made.release();
    return S_OK;
}
