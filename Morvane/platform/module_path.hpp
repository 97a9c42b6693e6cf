#pragma once
// The full file name of a loaded module.
#include <windows.h>
#include <string>

namespace morvane {

// Any length; the platform error as an HRESULT, or E_OUTOFMEMORY, on failure.
HRESULT module_file_name(HMODULE module, std::wstring& path) noexcept;

} // namespace morvane
