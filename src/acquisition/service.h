// The thin layer over the image-acquisition service.
#pragma once

#include <windows.h>
#include <wia.h>

#include "com.h"
#include "fotex.h"

namespace fotex {

// Creates the service's device manager. Traces a failure of the creation itself.
HRESULT CreateDeviceManager(IWiaDevMgr** manager);
// The same for the functions that report by status alone.
HRESULT CreateDeviceManagerQuietly(IWiaDevMgr** manager);

// The property storage of an item. A success without an object is E_NOINTERFACE, so that success
// always comes with a storage.
HRESULT QueryPropertyStorage(IWiaItem* item, ComPtr<IWiaPropertyStorage>& storage);

// The status a function beyond those of 1.3 returns for a failed service call. The statuses that
// tell a caller to change its call (FOTEX_E_HANDLE, _POINTER, _INVALIDARG, _BOUNDS,
// _INSUFFICIENT_BUFFER, _MORE_DATA) come only from the library's own checks, so the same number
// from the service becomes FOTEX_E_SERVICE_FAILED; every way a vanished server is reported
// becomes FOTEX_E_DISCONNECTED. Anything else comes back as it is.
int ServiceStatus(HRESULT hr);

// Handles cross the boundary as integers of pointer size.
inline IWiaItem* ItemFromHandle(FOTEX_HANDLE handle) {
    return reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(handle));
}
inline FOTEX_HANDLE HandleFromItem(IWiaItem* item) {
    return static_cast<FOTEX_HANDLE>(reinterpret_cast<INT_PTR>(item));
}

// For the unloading of the DLL, which runs under the loader lock: releases an object of this
// process and leaves a proxy alone (its release would be a call to another process, whose answer
// can need the lock). True when it left one.
bool ReleaseUnlessProxy(IUnknown* object);

}  // namespace fotex
