#pragma once

#include <windows.h>
#include <wia.h>

namespace fotex {

// ERROR_NOT_ENOUGH_MEMORY as an HRESULT: the device list could not grow.
constexpr HRESULT kListCannotGrow = static_cast<HRESULT>(0x80070008);

class DeviceList;

// Reads a device's identifier, name and description from its device-information storage
// (borrowed) and appends them to `list` as one record. Traces a failed read, and
// kListCannotGrow.
HRESULT AppendDeviceRecord(IWiaPropertyStorage* storage, DeviceList& list);

}  // namespace fotex
