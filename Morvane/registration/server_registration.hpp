#pragma once
// DllRegisterServer and DllUnregisterServer: every class's registry script, then the
// module's type library.
#include <windows.h>
#include <span>
#include "com/class_objects.hpp"

namespace morvane {

HRESULT register_server(HMODULE module, std::span<const class_entry> classes) noexcept;
HRESULT unregister_server(HMODULE module, std::span<const class_entry> classes) noexcept;

} // namespace morvane
