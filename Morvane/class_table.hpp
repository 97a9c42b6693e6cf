#pragma once
// The creatable classes of Morvane.dll. Serving another class means adding a row to the
// table in class_table.cpp.
#include <span>
#include "com/class_objects.hpp"

namespace morvane {

std::span<class_entry> class_table() noexcept;

} // namespace morvane
