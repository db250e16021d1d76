// What the library does with the handles a host holds, beyond reading them: holding one for the
// length of a call, and giving one back.
#pragma once

#include <windows.h>
#include <wia.h>

#include "com.h"
#include "fotex.h"
#include "service.h"

namespace fotex {

// A reference of the call's own on a handle's object (empty for 0). A handler that runs inside a
// service call may give the host's reference back; the object must outlive the call using it.
inline ComPtr<IWiaItem> HoldHandle(FOTEX_HANDLE handle) {
    IWiaItem* item = ItemFromHandle(handle);
    if (item != nullptr) item->AddRef();
    return ComPtr<IWiaItem>::attach(item);
}

// What a room above keeps for a handle (an item list) is dropped through this routine, which it
// registers when it first keeps something.
using HandleForgetter = void (*)(IWiaItem* item);
void SetHandleForgetter(HandleForgetter forget);

// Gives a handle's reference back, after what is kept for it: once released, its value may name
// another object.
void ReleaseHandle(IWiaItem* item);

}  // namespace fotex
