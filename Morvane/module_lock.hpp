#pragma once
// The module lock count: live objects, class objects held by clients, LockServer and
// objects being torn down keep the module loaded; DllCanUnloadNow answers S_OK only at 0.
namespace morvane::module_lock {

void add() noexcept;
void release() noexcept;
long count() noexcept;

} // namespace morvane::module_lock
