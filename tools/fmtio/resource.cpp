#include "resource.hpp"

#include <algorithm>
#include "failure.hpp"
#include "platform/safearray.hpp"
#include "session_codes.hpp"
#include "text.hpp"
#include "values.hpp"

namespace fmtio {

resource_manager create_resource_manager()
{
    return create_server_object<IMorvaneResourceManager>(resource_manager_class, std::nullopt);
}

opened_session open_session(IMorvaneResourceManager* manager, const std::string& name, long timeout_ms)
{
    opened_session opened;
    // The manager takes 1 ms at least; a shorter timeout is put on the session once it is open.
    check(manager->Open(utf8_to_bstr(name).get(), std::max(timeout_ms, 1L), &opened.message), manager,
          IID_IMorvaneResourceManager, "IMorvaneResourceManager::Open", "resource " + quoted(name));
    check(opened.message.As(&opened.control), nullptr, IID_NULL, "QueryInterface(IMorvaneSession)",
          "resource " + quoted(name));
    return opened;
}

std::vector<std::string> find_resources(IMorvaneResourceManager* manager, const std::string& expression)
{
    morvane::unique_safearray names;
    check(manager->FindResources(utf8_to_bstr(expression).get(), names.put()), manager, IID_IMorvaneResourceManager,
          "IMorvaneResourceManager::FindResources", "expression " + quoted(expression));
    std::vector<std::string> found;
    const std::size_t count = morvane::element_count(names.get());
    const morvane::safearray_data data(names.get());
    for (std::size_t i = 0; i < count; ++i)
        found.push_back(bstr_to_utf8(reinterpret_cast<BSTR*>(data.bytes())[i]));
    return found;
}

void set_discovery(IMorvaneResourceManager* manager, const discovery_settings& settings)
{
    if (settings.addresses)
        check(manager->put_DiscoveryAddresses(utf8_to_bstr(*settings.addresses).get()), manager,
              IID_IMorvaneResourceManager, "IMorvaneResourceManager::put_DiscoveryAddresses",
              "addresses " + quoted(*settings.addresses));
    if (settings.portmapper_port)
        check(manager->put_PortmapperPort(*settings.portmapper_port), manager, IID_IMorvaneResourceManager,
              "IMorvaneResourceManager::put_PortmapperPort", "port " + std::to_string(*settings.portmapper_port));
}

std::string identify(IMorvaneResourceManager* manager, const std::string& name, long timeout_ms)
{
    const opened_session opened = open_session(manager, name, timeout_ms);
    IMessage* session = opened.message.Get();
    const std::string context = "resource " + quoted(name) + ", command \"*IDN?\"";
    // A line feed ends the query on a raw socket too; END ends it everywhere else.
    static constexpr unsigned char query[] = {'*', 'I', 'D', 'N', '?', '\n'};
    morvane::unique_safearray bytes = array_from_bytes(element_type::ui1, query);
    SAFEARRAY* sent = bytes.get();
    long written = 0;
    check(session->Write(&sent, sizeof query, &written), session, IID_IMessage, "IMessage::Write", context);
    // An identification is a line; a resource that never ends its answer gets 4 KiB read.
    constexpr long piece = 256, most = 4096;
    std::string answer;
    LONG status = morvane::session::status_count_reached;
    while (!morvane::session::ends_message(status) && answer.size() < most) {
        morvane::unique_bstr text;
        check(session->ReadString(piece, text.put()), session, IID_IMessage, "IMessage::ReadString", context);
        answer += bstr_to_utf8(text.get());
        check(session->get_LastStatus(&status), session, IID_IMessage, "IMessage::get_LastStatus", context);
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
        answer.pop_back();
    return answer;
}

} // namespace fmtio
