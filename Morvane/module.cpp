// Module entry and exports of Morvane.dll.
#include <windows.h>
#include <objbase.h>
#include <new>
#include "class_info.hpp"
#include "class_table.hpp"
#include "error/error_values.hpp"
#include "module_lock.hpp"
#include "server_registration.hpp"

namespace {
HMODULE module_instance = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        module_instance = instance;
        try {
            morvane::initialize_error_values();
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        // No per-thread state: thread notifications would only cost time.
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        morvane::release_class_objects();
        morvane::release_class_type_info();
        break;
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    return morvane::module_lock::count() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out)
{
    return morvane::get_class_object(clsid, riid, out);
}

STDAPI DllRegisterServer()
{
    return morvane::register_server(module_instance);
}

STDAPI DllUnregisterServer()
{
    return morvane::unregister_server(module_instance);
}
