#include <windows.h>
#include <objbase.h>

#include "contents.h"
#include "events.h"

namespace {
// The thread whose COM initialisation the load added to, or 0. A thread already in the
// multithreaded apartment gains nothing (RPC_E_CHANGED_MODE), and COM is per thread: unloading
// undoes only what loading did, on the thread that did it, and never the host's own set-up.
DWORD g_comThread = 0;
}  // namespace

// The runtime constructs the device and item lists and the event state before this runs and
// destroys them after, so all of them outlive COM on both ends.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
    {
        // A failure here is not fatal: each export reports its own service failures.
        const HRESULT hr = CoInitialize(nullptr);
        if (hr == S_OK || hr == S_FALSE) g_comThread = GetCurrentThreadId();
        break;
    }
    case DLL_PROCESS_DETACH:
        // A non-null `reserved` means the process is exiting: COM may already be gone, and a
        // release that must reach the service's process can hang under the loader lock, so
        // nothing is released and COM is left as it is. Otherwise (FreeLibrary) the event
        // registration and the item lists' references go back while COM still lives.
        fotex::UnloadCameraEvents(reserved == nullptr);
        if (reserved == nullptr) fotex::Lists().ReleaseAll();
        if (reserved == nullptr && g_comThread != 0 && g_comThread == GetCurrentThreadId()) CoUninitialize();
        g_comThread = 0;
        break;
    default:
        break;
    }
    return TRUE;
}
