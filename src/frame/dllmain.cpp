#include <windows.h>
#include <objbase.h>

// The runtime constructs the device list before this runs and destroys it after, so the list
// outlives COM on both ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // A failure here is not fatal: each export reports its own service failures.
        CoInitialize(nullptr);
        break;
    case DLL_PROCESS_DETACH:
        // A non-null `reserved` means the process is exiting: COM may already be gone, and
        // calling into it then can hang or crash.
        if (reserved == nullptr) CoUninitialize();
        break;
    default:
        break;
    }
    return TRUE;
}
