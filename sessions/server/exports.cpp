// Module entry and the four exports of MorvaneSessions.dll (MorvaneSessions.def gives their
// ordinals): one creatable class, the resource manager; the sessions it opens are made by it.
#include <windows.h>
#include <objbase.h>
#include <morvane_sessions.h>
#include "com/class_objects.hpp"
#include "com/com_object.hpp"
#include "com/module_lock.hpp"
#include "platform/this_module.hpp"
#include "registration/server_registration.hpp"
#include "server/resource_manager.hpp"
#include "server/resource_ids.hpp"

namespace {

morvane::class_entry classes[] = {
    {&CLSID_ResourceManager, MORVANE_RESOURCE_MANAGER_REGISTRY_SCRIPT,
     &morvane::create_object<morvane::sessions::resource_manager>},
};

} // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    else if (reason == DLL_PROCESS_DETACH)
        morvane::release_class_objects(classes);
    return TRUE;
}

STDAPI DllCanUnloadNow() { return morvane::module_lock::count() == 0 ? S_OK : S_FALSE; }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out)
{
    return morvane::get_class_object(classes, clsid, riid, out);
}

STDAPI DllRegisterServer() { return morvane::register_server(morvane::this_module(), classes); }

STDAPI DllUnregisterServer() { return morvane::unregister_server(morvane::this_module(), classes); }
