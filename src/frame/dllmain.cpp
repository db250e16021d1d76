#include <windows.h>
#include <objbase.h>

#include "conditions.h"
#include "contents.h"
#include "events.h"

namespace {
// The thread whose COM initialisation the load added to, or 0. A thread already in the
// multithreaded apartment gains nothing (RPC_E_CHANGED_MODE), and COM is per thread: unloading
// undoes only what loading did, on the thread that did it, and never the host's own set-up.
DWORD g_comThread = 0;
// The load began the apartment (S_OK): the matching uninitialisation would end it.
bool g_comBegun = false;
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
        g_comBegun = hr == S_OK;
        break;
    }
    case DLL_PROCESS_DETACH:
    {
        // Under the loader lock: nothing here calls another process or waits, since the answer
        // can need a thread that waits for the lock. So objects of this process go back and
        // proxies are left, as when the process exits; an event registration holds the module,
        // so only the exit finds one. A non-null `reserved` means the process is exiting: COM may
        // already be gone, so nothing is released at all.
        const bool comAlive = reserved == nullptr;
        bool left = fotex::UnloadCameraEvents();
        if (comAlive) left = fotex::Lists().ReleaseAll() || left;
        if (comAlive) left = fotex::ForgetAllDevices() || left;
        // Ending the apartment would release the proxies left in it, so the load's set-up stays
        // then; one the host's own outlives only counts down, and the host's end releases them.
        if (comAlive && (!left || !g_comBegun) && g_comThread != 0 && g_comThread == GetCurrentThreadId())
            CoUninitialize();
        g_comThread = 0;
        break;
    }
    default:
        break;
    }
    return TRUE;
}
