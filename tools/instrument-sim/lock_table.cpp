#include "lock_table.hpp"

#include <algorithm>
#include <set>

namespace morvane::instrument_server {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Waits are cut in slices this long, so that a client that goes is seen soon.
constexpr milliseconds slice{100};

} // namespace

bool lock_table::grantable(client_id client, std::string_view name) const
{
    if (m_exclusive && *m_exclusive != client)
        return false;
    for (const auto& [holder, held] : m_shared)
        if (holder != client && (name.empty() || held != name))
            return false;
    return true;
}

template<typename Ready>
bool lock_table::wait(std::unique_lock<std::mutex>& guard, std::optional<milliseconds> timeout, const give_up& stop,
                      Ready ready)
{
    // A timeout too long for the clock is none.
    const auto start = steady_clock::now();
    const bool bounded =
        timeout && *timeout < std::chrono::duration_cast<milliseconds>(steady_clock::time_point::max() - start);
    const auto deadline = bounded ? start + *timeout : steady_clock::time_point::max();
    while (!ready()) {
        const auto now = steady_clock::now();
        if (now >= deadline || stop())
            return false;
        m_changed.wait_for(guard, std::min<steady_clock::duration>(deadline - now, slice));
    }
    return true;
}

lock_outcome lock_table::request(client_id client, std::string_view name, milliseconds timeout, const give_up& stop)
{
    std::unique_lock guard(m_lock);
    if (const auto own = m_shared.find(client); !name.empty() && own != m_shared.end() && own->second != name)
        return lock_outcome::refused;
    if (!wait(guard, timeout, stop, [&] { return grantable(client, name); }))
        return lock_outcome::timed_out;
    if (name.empty())
        m_exclusive = client;
    else
        m_shared[client] = name;
    return lock_outcome::granted;
}

released lock_table::release(client_id client)
{
    released what = released::nothing;
    {
        const std::lock_guard guard(m_lock);
        if (m_exclusive == client) {
            m_exclusive.reset();
            what = released::exclusive;
        } else if (m_shared.erase(client) != 0)
            what = released::shared;
    }
    m_changed.notify_all();
    return what;
}

void lock_table::release_all(client_id client)
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
    std::set<client_id> holders;
    for (const auto& held : m_shared)
        holders.insert(held.first);
    if (m_exclusive)
        holders.insert(*m_exclusive);
    return {m_exclusive.has_value(), static_cast<std::uint32_t>(holders.size())};
}

bool lock_table::wait_for_access(client_id client, std::optional<milliseconds> timeout, const give_up& stop)
{
    std::unique_lock guard(m_lock);
    return wait(guard, timeout, stop, [&] { return !m_exclusive || *m_exclusive == client; });
}

lock_table& server_locks()
{
    static lock_table table;
    return table;
}

} // namespace morvane::instrument_server
