#pragma once
// Runs a registry script (registry_script.hpp) against the registry.
//
// Register mode, key by key in script order:
//   ForceRemove  an existing key is deleted with everything below it, then made anew;
//   otherwise    the key is opened or created and anything already in it is kept;
// then the key's default and named values are written and its subkeys processed.
// Unregister mode:
//   ForceRemove  the key is deleted with everything below it;
//   NoRemove     the key stays; its subkeys are processed;
//   otherwise    its subkeys and named values are processed, then the key is deleted if no
//                subkey is left in it.
// Whatever the markers say, a key with a protected name (CLSID, TypeLib, Software, ...) is
// never deleted with everything below it while it has subkeys; it is treated as unmarked.
//
// Result: S_OK; the first registry failure as an HRESULT (processing stops there);
// DISP_E_EXCEPTION for a malformed script, before anything is touched; E_OUTOFMEMORY.
#include <windows.h>
#include <span>
#include <string_view>
#include "registration/registry_script.hpp"

namespace morvane {

enum class registrar_mode { register_keys, unregister_keys };

// `classes_root` is the key that the script's HKCR stands for; tests give a scratch key.
HRESULT run_registry_script(std::wstring_view script, std::span<const registry::replacement> replacements,
                            registrar_mode mode, HKEY classes_root = HKEY_CLASSES_ROOT) noexcept;

} // namespace morvane
