// The library entry point of the Windows build. The module's set-up cannot
// fail in this implementation (its lock count is an atomic and needs no
// initialisation), so every notification is answered TRUE; thread
// notifications stay enabled.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
