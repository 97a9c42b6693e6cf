#pragma once
// The cached class type information behind IProvideClassInfo2::GetClassInfo
// (class_type_info, declared with the class identifiers in server/class_ids.hpp).
#include "server/class_ids.hpp"

namespace morvane {

// Drops the cached type information; the module does this when it unloads.
void release_class_type_info() noexcept;

} // namespace morvane
