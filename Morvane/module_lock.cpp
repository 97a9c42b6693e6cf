#include "module_lock.hpp"

#include <atomic>

namespace morvane::module_lock {
namespace {
std::atomic<long> lock_count{0};
}

void add() noexcept { ++lock_count; }
void release() noexcept { --lock_count; }
long count() noexcept { return lock_count.load(); }

} // namespace morvane::module_lock
