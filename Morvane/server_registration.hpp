#pragma once
// DllRegisterServer and DllUnregisterServer: every class's registry script, then the
// module's type library.
#include <windows.h>

namespace morvane {

HRESULT register_server(HMODULE module) noexcept;
HRESULT unregister_server(HMODULE module) noexcept;

} // namespace morvane
