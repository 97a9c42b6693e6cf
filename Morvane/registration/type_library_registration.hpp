#pragma once
// Registration of the type library that a module carries: as resource "TYPELIB" 1, or
// failing that in the ".tlb" file of the module's name beside it.
#include <windows.h>
#include <oaidl.h>

namespace morvane {

// Registers the library, per machine, under the path it was loaded from.
HRESULT register_type_library(HMODULE module) noexcept;

// Removes exactly the registration that the library's own attributes name.
HRESULT unregister_type_library(HMODULE module) noexcept;
HRESULT unregister_type_library(ITypeLib& library) noexcept;

} // namespace morvane
