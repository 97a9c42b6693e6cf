#include "hislip_locks.hpp"

#include <set>
#include "hislip/hislip_messages.hpp"

namespace morvane::instrument_server {
namespace {

// Waits are cut in slices this long, so that a client that goes is seen soon.
constexpr std::chrono::milliseconds slice{100};

} // namespace

namespace lock = hislip::lock;

bool lock_table::grantable(std::uint16_t client, std::string_view name) const
{
    if (m_exclusive && *m_exclusive != client)
        return false;
    for (const auto& [holder, held] : m_shared)
        if (holder != client && (name.empty() || held != name))
            return false;
    return true;
}

std::uint8_t lock_table::request(std::uint16_t client, std::string_view name, std::chrono::milliseconds timeout,
                                 const give_up& stop)
{
    std::unique_lock guard(m_lock);
    if (const auto own = m_shared.find(client); !name.empty() && own != m_shared.end() && own->second != name)
        return lock::refused;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!grantable(client, name)) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || stop())
            return lock::failed;
        m_changed.wait_for(guard, std::min<std::chrono::steady_clock::duration>(deadline - now, slice));
    }
    if (name.empty())
        m_exclusive = client;
    else
        m_shared[client] = name;
    return lock::granted;
}

std::uint8_t lock_table::release(std::uint16_t client)
{
    std::uint8_t code = lock::refused;
    {
        const std::lock_guard guard(m_lock);
        if (m_exclusive == client) {
            m_exclusive.reset();
            code = lock::granted; // "exclusive released"
        } else if (m_shared.erase(client) != 0)
            code = lock::shared_released;
    }
    m_changed.notify_all();
    return code;
}

void lock_table::release_all(std::uint16_t client)
{
    {
        const std::lock_guard guard(m_lock);
        if (m_exclusive == client)
            m_exclusive.reset();
        m_shared.erase(client);
    }
    m_changed.notify_all();
}

std::pair<bool, std::uint32_t> lock_table::info()
{
    const std::lock_guard guard(m_lock);
    std::set<std::uint16_t> holders;
    for (const auto& held : m_shared)
        holders.insert(held.first);
    if (m_exclusive)
        holders.insert(*m_exclusive);
    return {m_exclusive.has_value(), static_cast<std::uint32_t>(holders.size())};
}

bool lock_table::wait_for_access(std::uint16_t client, const give_up& stop)
{
    std::unique_lock guard(m_lock);
    while (m_exclusive && *m_exclusive != client) {
        if (stop())
            return false;
        m_changed.wait_for(guard, slice);
    }
    return true;
}

lock_table& hislip_locks()
{
    static lock_table table;
    return table;
}

} // namespace morvane::instrument_server
