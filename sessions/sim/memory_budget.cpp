#include "sim/memory_budget.hpp"

namespace morvane::sim {

bool memory_budget::take(std::size_t bytes) noexcept
{
    std::size_t used = m_used.load();
    do {
        if (bytes > m_limit - used)
            return false;
    } while (!m_used.compare_exchange_weak(used, used + bytes));
    if (m_within && !m_within->take(bytes)) {
        m_used -= bytes;
        return false;
    }
    return true;
}

void memory_budget::give(std::size_t bytes) noexcept
{
    m_used -= bytes;
    if (m_within)
        m_within->give(bytes);
}

bool budget_share::resize(std::size_t bytes) noexcept
{
    if (m_budget && bytes > m_held && !m_budget->take(bytes - m_held))
        return false;
    if (m_budget && bytes < m_held)
        m_budget->give(m_held - bytes);
    m_held = bytes;
    return true;
}

} // namespace morvane::sim
