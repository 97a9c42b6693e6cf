#include "events/sink_connection_point.hpp"

#include <morvane_sessions.h>

namespace morvane::events {

STDMETHODIMP sink_connection_point::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!InlineIsEqualGUID(riid, IID_IUnknown) && !InlineIsEqualGUID(riid, IID_IConnectionPoint))
        return E_NOINTERFACE;
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP sink_connection_point::GetConnectionInterface(IID* interface_id)
{
    if (!interface_id)
        return E_POINTER;
    *interface_id = IID_IMorvaneServiceRequestSink;
    return S_OK;
}

STDMETHODIMP sink_connection_point::GetConnectionPointContainer(IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

STDMETHODIMP sink_connection_point::Advise(IUnknown* sink, DWORD* cookie)
{
    try {
        return m_delivery.advise(sink, cookie);
    } catch (...) {
        return E_OUTOFMEMORY; // the table of sinks could not grow
    }
}

STDMETHODIMP sink_connection_point::Unadvise(DWORD cookie) { return m_delivery.unadvise(cookie); }

STDMETHODIMP sink_connection_point::EnumConnections(IEnumConnections** connections)
{
    if (connections)
        *connections = nullptr;
    return E_NOTIMPL;
}

} // namespace morvane::events
