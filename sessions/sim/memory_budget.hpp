#pragma once
// Bytes that simulated instruments may hold for their clients (messages being received,
// responses, stored data), shared by the sessions of a connection or of a whole server and
// taken before the memory is: a client that sends and never reads then costs no more than its
// budget, however many links or connections it opens.
#include <atomic>
#include <cstddef>
#include <memory>

namespace morvane::sim {

class memory_budget {
public:
    // `within`: a larger budget that every byte taken here is also taken from.
    explicit memory_budget(std::size_t limit, std::shared_ptr<memory_budget> within = nullptr) noexcept
        : m_limit(limit), m_within(std::move(within))
    {}
    memory_budget(const memory_budget&) = delete;
    memory_budget& operator=(const memory_budget&) = delete;

    // All of `bytes` or none, here and in every budget it lies within.
    bool take(std::size_t bytes) noexcept;
    void give(std::size_t bytes) noexcept;
    std::size_t used() const noexcept { return m_used; }

private:
    const std::size_t m_limit;
    const std::shared_ptr<memory_budget> m_within;
    std::atomic<std::size_t> m_used{0};
};

// What one holder has taken from a budget, given back when it goes; no budget: no bound.
class budget_share {
public:
    explicit budget_share(std::shared_ptr<memory_budget> budget) noexcept : m_budget(std::move(budget)) {}
    ~budget_share() { resize(0); }
    budget_share(const budget_share&) = delete;
    budget_share& operator=(const budget_share&) = delete;

    // Holds `bytes` from now on; false, holding what it held, when the budget has not that much.
    bool resize(std::size_t bytes) noexcept;

private:
    std::shared_ptr<memory_budget> m_budget;
    std::size_t m_held = 0;
};

} // namespace morvane::sim
