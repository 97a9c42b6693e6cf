#pragma once
// The cached class type information behind IProvideClassInfo2::GetClassInfo.
#include "com/class_type_info.hpp"

namespace morvane {

// Drops the cached type information; the module does this when it unloads.
void release_class_type_info() noexcept;

} // namespace morvane
