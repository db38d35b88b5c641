// The library entry point of the Windows build. The module's set-up cannot
// fail in this implementation (its lock count is an atomic and needs no
// initialisation), so every notification is answered TRUE; thread
// notifications stay enabled. A detach from a process that goes on
// (FreeLibrary) tears down the component's process-wide state; one from a
// process that exits (reserved non-null) leaves it in place.
#include <windows.h>

#include "platform/module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH)
        platform::ModuleDetached(reserved != nullptr);
    return TRUE;
}
