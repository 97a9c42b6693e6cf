#include "server/module_lock.hpp"

#include <atomic>

namespace morvane::module_lock {
namespace {
std::atomic<long> lock_count{0};
// Built before the module entry runs and deleted after process detach.
critical_section creation;
}

void add() noexcept { ++lock_count; }
void release() noexcept { --lock_count; }
long count() noexcept { return lock_count.load(); }

critical_section& creation_lock() noexcept { return creation; }

} // namespace morvane::module_lock
