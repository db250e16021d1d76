/* The smallest DLL built like Fotex.dll: the baseline for the cost of loading one. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}

__declspec(dllexport) int TrivialExport(void) { return 1; }
