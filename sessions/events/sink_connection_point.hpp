#pragma once
// The one connection point of a session's container: IMorvaneServiceRequestSink. It lives
// inside the session and counts its references on it, so that it is valid while anyone holds it.
#include <windows.h>
#include <ocidl.h>
#include "events/sink_delivery.hpp"

namespace morvane::events {

class sink_connection_point final : public IConnectionPoint {
public:
    sink_connection_point(IConnectionPointContainer& container, sink_delivery& delivery) noexcept
        : m_container(container), m_delivery(delivery)
    {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return m_container.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_container.Release(); }

    STDMETHODIMP GetConnectionInterface(IID* interface_id) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override;
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    // The sinks are the client's own to know.
    STDMETHODIMP EnumConnections(IEnumConnections** connections) override;

private:
    IConnectionPointContainer& m_container;
    sink_delivery& m_delivery;
};

} // namespace morvane::events
