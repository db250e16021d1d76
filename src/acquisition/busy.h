// Busy devices: a service call that answers WIA_ERROR_BUSY is made again after a pause.
#pragma once

#include <windows.h>
#include <wia.h>

#include "wia_ids.h"

namespace fotex {

// ---- busy ------------------------------------------------------------------------------------

// A failure that says the device has gone (asleep, unplugged) or the service's process ended.
bool DeviceGone(HRESULT hr);

// Remembers the last such failure a service call met, for the device call around
// it to see (a reconnect is tried once the call is over).
void NoteFailure(HRESULT hr);

// The pause before the next try of a busy call, handling window messages meanwhile; false when
// the busy wait is spent. `pause` starts at 0 and is kept by the caller between tries.
bool PauseWhileBusy(ULONGLONG start, DWORD& pause);

// Makes a service call, again and again while the device answers WIA_ERROR_BUSY and the busy wait
// lasts: busy means the service did nothing. The last answer comes back (still busy: the budget
// is spent). A call that never meets busy costs one comparison.
template <class Call>
HRESULT Retrying(Call&& call) {
    HRESULT hr = call();
    if (hr == wia::kWiaErrorBusy) {
        const ULONGLONG start = GetTickCount64();
        DWORD pause = 0;
        while (hr == wia::kWiaErrorBusy && PauseWhileBusy(start, pause)) hr = call();
    }
    if (FAILED(hr)) NoteFailure(hr);
    return hr;
}

}  // namespace fotex
