#pragma once
#include <windows.h>

namespace morvane {

// The module that holds this code (the DLL, or an executable that links the library).
HMODULE this_module() noexcept;

} // namespace morvane
