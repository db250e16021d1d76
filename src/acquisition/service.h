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

// Handles cross the boundary as integers of pointer size.
inline IWiaItem* ItemFromHandle(FOTEX_HANDLE handle) {
    return reinterpret_cast<IWiaItem*>(static_cast<INT_PTR>(handle));
}
inline FOTEX_HANDLE HandleFromItem(IWiaItem* item) {
    return static_cast<FOTEX_HANDLE>(reinterpret_cast<INT_PTR>(item));
}

}  // namespace fotex
