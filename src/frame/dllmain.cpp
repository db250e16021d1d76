#include <windows.h>
#include <objbase.h>

#include "contents.h"
#include "events.h"

// The runtime constructs the device and item lists and the event state before this runs and
// destroys them after, so all of them outlive COM on both ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        // A failure here is not fatal: each export reports its own service failures.
        CoInitialize(nullptr);
        break;
    case DLL_PROCESS_DETACH:
        // A non-null `reserved` means the process is exiting: COM may already be gone, and
        // calling into it then can hang or crash. Otherwise the event registration and the item
        // lists' references go back while COM still lives.
        fotex::UnloadCameraEvents(reserved == nullptr);
        if (reserved == nullptr) {
            fotex::Lists().ReleaseAll();
            CoUninitialize();
        }
        break;
    default:
        break;
    }
    return TRUE;
}
