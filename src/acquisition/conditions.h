// A camera's conditions as the service reports them: a busy device is asked again after a
// pause, an open device that went away (asleep, unplugged, or the service's process ended) is
// opened again once from its device id.
#pragma once

#include <windows.h>
#include <wia.h>

#include "busy.h"
#include "com.h"
#include "fotex.h"
#include "handles.h"
#include "wia_ids.h"

namespace fotex {

// ---- options, process-wide -------------------------------------------------------------------

constexpr int kBusyWaitDefaultMs = 3000;
constexpr int kBusyWaitMaxMs = 60000;
int BusyWaitMs();
void SetBusyWaitMs(int ms);
bool ReconnectOn();
void SetReconnect(bool on);

// ---- open devices ----------------------------------------------------------------------------

// Keeps what reconnecting needs of a handle OpenWiaDevice gave out: its device id, taken over
// from `deviceId` (the string the service was handed: no copy). False, with the string left
// where it was, when it could not be kept (the handle then works without reconnecting).
bool RememberDevice(IWiaItem* root, Bstr& deviceId);
// Drops the handle's entry with the root that replaced it (on CloseWiaDevice).
void ForgetDevice(IWiaItem* root);
// Drops every entry, for an unload with devices left open: their ids are freed, roots of this
// process released, proxies left (see ReleaseUnlessProxy). True when a proxy was left.
bool ForgetAllDevices();

// A reference of the call's own on the root a device handle's calls reach: the handle's own
// object, or the one that replaced it after a reconnect.
ComPtr<IWiaItem> HoldDevice(FOTEX_HANDLE handle);
// The root a reconnect put in the handle's place, with a reference of the call's own; empty while
// the handle's own object is its root.
ComPtr<IWiaItem> HoldReplacement(FOTEX_HANDLE handle);

// Creates the device again from its id and makes the new root the one the handle's calls reach;
// returns a reference of the caller's own on it (handlers that run later may close the handle),
// or null when the handle is not an open device, reconnecting is off, or the service failed.
// The caller holds the handle's own object (as OnDevice does), so that no device a handler opens
// meanwhile takes its place and its entry.
ComPtr<IWiaItem> Reconnect(FOTEX_HANDLE handle);

// Routine called after each reconnect with the failure that caused it, to renew what was
// registered with the service (events).
using ReconnectListener = void (*)(HRESULT cause);
void SetReconnectListener(ReconnectListener listener);

// Runs `body` on the handle's root; when it failed (a negative result) after a service call
// inside it found the device gone, and a reconnect succeeds, runs it once more on the new root.
// A call that went through is never made again. `body` takes an IWiaItem* and returns what the
// export returns.
class DeviceGoneMark {
public:
    DeviceGoneMark();
    ~DeviceGoneMark();
    DeviceGoneMark(const DeviceGoneMark&) = delete;
    DeviceGoneMark& operator=(const DeviceGoneMark&) = delete;
    bool Gone() const;

private:
    HRESULT saved_;
};

template <class Body>
auto OnDevice(FOTEX_HANDLE handle, Body&& body) -> decltype(body(static_cast<IWiaItem*>(nullptr))) {
    // The handle's own object, for the whole call even when a reconnect replaced it: a handler
    // may close the handle, and a device it opens next must not take the freed object's place,
    // and so the handle's entry and what is kept for it.
    const ComPtr<IWiaItem> self = HoldHandle(handle);
    ComPtr<IWiaItem> again;
    {
        const ComPtr<IWiaItem> replacement = HoldReplacement(handle);
        DeviceGoneMark mark;
        auto result = body(replacement ? replacement.get() : self.get());
        if (!(result < 0) || !mark.Gone()) return result;
        again = Reconnect(handle);
        if (!again) return result;
    }
    return body(again.get());
}

}  // namespace fotex
