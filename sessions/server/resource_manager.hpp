#pragma once
// The resource manager: opens the sessions of the kinds in its table (session_kinds.hpp) by
// resource name, and lists the resources that those kinds can find.
#include <windows.h>
#include <mutex>
#include <string>
#include <visacom.h>
#include <morvane_sessions.h>
#include "com/com_object.hpp"
#include "server/session_kinds.hpp"
#include "oncrpc/rpc_numbers.hpp"

namespace morvane::sessions {

class resource_manager : public IMorvaneResourceManager, public ISupportErrorInfo {
public:
    using interfaces = interface_list<IMorvaneResourceManager, ISupportErrorInfo>;

    virtual ~resource_manager() = default;

    STDMETHODIMP Open(BSTR resource_name, LONG timeout, IMessage** session) override;
    STDMETHODIMP FindResources(BSTR expression, SAFEARRAY** names) override;
    STDMETHODIMP get_ResourceForms(BSTR* forms) override;
    STDMETHODIMP get_PortmapperPort(LONG* port) override;
    STDMETHODIMP put_PortmapperPort(LONG port) override;
    STDMETHODIMP get_DiscoveryAddresses(BSTR* addresses) override;
    STDMETHODIMP put_DiscoveryAddresses(BSTR addresses) override;
    STDMETHODIMP get_DiscoveryTimeout(LONG* milliseconds) override;
    STDMETHODIMP put_DiscoveryTimeout(LONG milliseconds) override;
    STDMETHODIMP get_CorePort(LONG* port) override;
    STDMETHODIMP put_CorePort(LONG port) override;

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    // The bodies of Open and FindResources, inside the boundary.
    HRESULT open_named(BSTR resource_name, LONG timeout, IMessage** session);
    HRESULT list_resources(BSTR expression, SAFEARRAY** names);
    // The settings as they are now, for the session kinds.
    manager_settings settings();
    HRESULT get_number(const LONG& field, LONG* out);
    HRESULT put_number(LONG& field, LONG value, LONG lowest, LONG highest, const wchar_t* refused);

    std::mutex m_lock;
    LONG m_portmapper_port = oncrpc::portmapper::default_port;
    std::wstring m_discovery_addresses; // none: a broadcast on the local networks
    LONG m_discovery_timeout_ms = 1000;
    LONG m_core_port = 0; // ask the portmapper
};

} // namespace morvane::sessions
