// The DLL entry of HarnwickLive.dll: remembers the module instance, which the
// registration and the resources need.
#include <windows.h>

#include "filters/filters.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        moduleAttach(instance);
    } else if (reason == DLL_PROCESS_DETACH) {
        moduleDetach();
    }
    return TRUE;
}
