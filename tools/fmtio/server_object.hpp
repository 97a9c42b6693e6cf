#pragma once
// Objects of Morvane's in-process COM servers, reached only through COM, as any client can:
// created by program identifier, or from the server's DLL through its DllGetClassObject.
#include <windows.h>
#include <memory>
#include <optional>
#include <string>
#include <wrl/client.h>

namespace fmtio {

// A creatable class, and the DLL that serves it.
struct server_class {
    const wchar_t* progid;
    const CLSID* clsid;
    const wchar_t* dll_name;
};

// FmtdIOCls in Morvane.dll, and the resource manager in MorvaneSessions.dll.
extern const server_class formatted_io_class;
extern const server_class resource_manager_class;

// A DLL loaded by path, freed when the last holder lets it go.
using library = std::shared_ptr<std::remove_pointer_t<HMODULE>>;

template<typename Interface> struct server_object {
    library module; // declared first, so that it goes after the object
    Microsoft::WRL::ComPtr<Interface> object;
    std::string origin; // how the object was made, for `info`
};

// Makes the object into `out` through `iid` and tells how it was made: by program identifier
// when `dll` is not given; from the file `dll` when it is, and from the class's DLL beside this
// program when the class is not registered. `module` keeps a DLL loaded here.
std::string create_object(const server_class& which, const std::optional<std::string>& dll, REFIID iid, library& module,
                          void** out);

template<typename Interface>
server_object<Interface> create_server_object(const server_class& which, const std::optional<std::string>& dll)
{
    server_object<Interface> made;
    made.origin = create_object(which, dll, __uuidof(Interface), made.module,
                                reinterpret_cast<void**>(made.object.GetAddressOf()));
    return made;
}

// The file that holds the object's code, and its version ("" when it records none).
struct module_facts {
    std::string path;
    std::string version;
};
module_facts describe_module(IUnknown* object);

} // namespace fmtio
