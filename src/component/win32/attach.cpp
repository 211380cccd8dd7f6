// Process attach and detach of the DLL.
#include <windows.h>

#include "component/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        kv::ComponentAttach();
        break;
    case DLL_PROCESS_DETACH:
        kv::ComponentDetach();
        break;
    default:
        break;
    }
    return TRUE;
}
