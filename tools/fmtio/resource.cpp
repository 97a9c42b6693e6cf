#include "resource.hpp"

#include <algorithm>
#include "failure.hpp"
#include "platform/safearray.hpp"
#include "text.hpp"

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

} // namespace fmtio
