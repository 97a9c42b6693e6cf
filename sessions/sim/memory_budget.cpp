#include "sim/memory_budget.hpp"

namespace morvane::sim {

bool memory_budget::take(std::size_t bytes) noexcept
{
    std::size_t used = used_.load();
    do {
        if (bytes > limit_ - used)
            return false;
    } while (!used_.compare_exchange_weak(used, used + bytes));
    if (within_ && !within_->take(bytes)) {
        used_ -= bytes;
        return false;
    }
    return true;
}

void memory_budget::give(std::size_t bytes) noexcept
{
    used_ -= bytes;
    if (within_)
        within_->give(bytes);
}

bool budget_share::resize(std::size_t bytes) noexcept
{
    if (budget_ && bytes > held_ && !budget_->take(bytes - held_))
        return false;
    if (budget_ && bytes < held_)
        budget_->give(held_ - bytes);
    held_ = bytes;
    return true;
}

} // namespace morvane::sim
