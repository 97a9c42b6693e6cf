// Module entry of Morvane.dll; the exports are in exports.cpp.
#include <windows.h>
#include <new>
#include "error/error_values.hpp"
#include "object/class_info.hpp"
#include "class_table.hpp"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH: try { morvane::initialize_error_values();
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        // No per-thread state: thread notifications would only cost time.
        DisableThreadLibraryCalls(instance);
        break;
    case DLL_PROCESS_DETACH:
        morvane::release_class_objects(morvane::class_table());
        morvane::release_class_type_info();
        break;
    }
    return TRUE;
}
