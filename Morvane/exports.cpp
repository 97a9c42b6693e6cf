// The four exports of the module (Morvane.def gives their ordinals).
#include <windows.h>
#include <objbase.h>
#include "platform/this_module.hpp"
#include "server_registration.hpp"
#include "class_table.hpp"
#include "com/module_lock.hpp"

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
    return morvane::register_server(morvane::this_module());
}

STDAPI DllUnregisterServer()
{
    return morvane::unregister_server(morvane::this_module());
}
