// Module entry of Morvane.dll.
#include <windows.h>
#include <new>
#include "error/error_values.hpp"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        try {
            morvane::initialize_error_values();
        } catch (const std::bad_alloc&) {
            return FALSE;
        }
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
