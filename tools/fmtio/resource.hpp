#pragma once
// Resources, opened by name through the resource manager of MorvaneSessions.dll, which knows
// their forms: fmtio uses nothing that another client could not.
#include <windows.h>
#include <optional>
#include <string>
#include <vector>
#include <visacom.h>
#include <morvane_sessions.h>
#include <wrl/client.h>
#include "server_object.hpp"

namespace fmtio {

using resource_manager = server_object<IMorvaneResourceManager>;

// By its program identifier, or from the MorvaneSessions.dll beside this program.
resource_manager create_resource_manager();

// The session that Open gave, and what it offers beside IMessage.
struct opened_session {
    Microsoft::WRL::ComPtr<IMessage> message;
    Microsoft::WRL::ComPtr<IMorvaneSession> control;
};

// A socket session connects within `timeout_ms`, which is also the session's timeout.
opened_session open_session(IMorvaneResourceManager* manager, const std::string& name, long timeout_ms);

// The resources that match `expression`, as FindResources gives them.
std::vector<std::string> find_resources(IMorvaneResourceManager* manager, const std::string& expression);

// Where FindResources looks for network instruments: the manager's DiscoveryAddresses and
// PortmapperPort, set when given.
struct discovery_settings {
    std::optional<std::string> addresses;
    std::optional<long> portmapper_port;
};
void set_discovery(IMorvaneResourceManager* manager, const discovery_settings& settings);

// The answer of the resource to *IDN?, its line end stripped, over a session of its own that
// sends and reads bytes as they are, each step within `timeout_ms`.
std::string identify(IMorvaneResourceManager* manager, const std::string& name, long timeout_ms);

} // namespace fmtio
