// Entry point of the Windows module: switch off the per-thread notifications,
// nothing else. All work happens in the exported functions.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
