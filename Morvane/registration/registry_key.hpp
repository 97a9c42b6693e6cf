#pragma once
// Owning registry key handle: closed with RegCloseKey on every way out.
#include <windows.h>
#include <memory>
#include <type_traits>

namespace morvane {

struct registry_key_close {
    void operator()(HKEY key) const noexcept { RegCloseKey(key); }
};
using unique_hkey = std::unique_ptr<std::remove_pointer_t<HKEY>, registry_key_close>;

} // namespace morvane
