#pragma once
// The resource manager: opens the sessions that it knows by resource name, and lists the
// resources that it can find.
#include <windows.h>
#include <mutex>
#include <vector>
#include <string>
#include <visacom.h>
#include <morvane_sessions.h>
#include "com/com_object.hpp"
#include "server/resource_pattern.hpp"

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
    HRESULT open(BSTR resource_name, LONG timeout, IMessage** session);
    HRESULT find_resources(BSTR expression, SAFEARRAY** names);
    // The VXI-11 instruments that answer the discovery and whose names match.
    std::vector<std::wstring> discover(const resource_pattern& pattern);
    HRESULT get_number(const LONG& field, LONG* out);
    HRESULT put_number(LONG& field, LONG value, LONG lowest, LONG highest, const wchar_t* refused);

    std::mutex lock_;
    LONG portmapper_port_ = 111;
    std::wstring discovery_addresses_; // none: a broadcast on the local networks
    LONG discovery_timeout_ms_ = 1000;
    LONG core_port_ = 0; // ask the portmapper
};

} // namespace morvane::sessions
