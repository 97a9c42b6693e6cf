// The four exports of the module (Morvane.def gives their ordinals).
#include <windows.h>
#include <objbase.h>
#include "platform/this_module.hpp"
#include "class_table.hpp"
#include "com/module_lock.hpp"
#include "registration/server_registration.hpp"

STDAPI DllCanUnloadNow() { return morvane::module_lock::count() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out)
{
    return morvane::get_class_object(morvane::class_table(), clsid, riid, out);
}

STDAPI DllRegisterServer() { return morvane::register_server(morvane::this_module(), morvane::class_table()); }

STDAPI DllUnregisterServer() { return morvane::unregister_server(morvane::this_module(), morvane::class_table()); }
