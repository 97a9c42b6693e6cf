#pragma once
// The formatted-I/O component, reached only through COM: created by its program identifier,
// or from a named Morvane.dll through its DllGetClassObject.
#include <windows.h>
#include <memory>
#include <optional>
#include <string>
#include <visacom.h>
#include <wrl/client.h>

namespace fmtio {

inline constexpr const wchar_t* component_progid = L"VISA.Tellurix";

// A DLL loaded by path, freed when the last holder lets it go.
using library = std::shared_ptr<std::remove_pointer_t<HMODULE>>;

struct component {
    library module; // declared first, so that it goes after the object
    Microsoft::WRL::ComPtr<IFormattedIO488> io;
    std::string origin; // how the object was made, for `info`
};

// By program identifier when `dll` is not given; from the file `dll` when it is, and from the
// Morvane.dll beside this program when the class is not registered.
component create_component(const std::optional<std::string>& dll);

// The file that holds the object's code, and its version ("" when it records none).
struct module_facts {
    std::string path;
    std::string version;
};
module_facts describe_module(IUnknown* object);

} // namespace fmtio
