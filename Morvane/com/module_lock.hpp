#pragma once
// The module lock count: live objects, class objects held by clients, LockServer and
// objects being torn down keep the module loaded; DllCanUnloadNow answers S_OK only at 0.
//
// Beside it, the module lock proper: the lock under which the module creates
// its cached class objects and class type information once.
#include "platform/critical_section.hpp"

namespace morvane::module_lock {

void add() noexcept;
void release() noexcept;
long count() noexcept;

slim_lock& creation_lock() noexcept;

} // namespace morvane::module_lock
