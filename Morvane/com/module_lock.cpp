#include "com/module_lock.hpp"

#include <atomic>

namespace morvane::module_lock {
namespace {
std::atomic<long> lock_count{0};
// Ready before any code runs; it needs no set-up and cannot fail.
slim_lock creation;
}

void add() noexcept { ++lock_count; }
void release() noexcept { --lock_count; }
long count() noexcept { return lock_count.load(); }

slim_lock& creation_lock() noexcept { return creation; }

} // namespace morvane::module_lock
