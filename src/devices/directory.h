#pragma once

#include <windows.h>
#include <wia.h>

namespace fotex {

// ERROR_NOT_ENOUGH_MEMORY as an HRESULT: the device list could not grow.
constexpr HRESULT kListCannotGrow = static_cast<HRESULT>(0x80070008);

class DeviceLists;

// Reads a device's identifier, name and description from its device-information storage
// (borrowed) and appends them as one record to the list `lists` is filling. Traces a failed
// read, and kListCannotGrow.
HRESULT AppendDeviceRecord(IWiaPropertyStorage* storage, DeviceLists& lists);

}  // namespace fotex
