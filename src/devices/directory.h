#pragma once

#include <windows.h>
#include <wia.h>

namespace fotex {

// Reads a device's identifier, name and description from its device-information storage
// (borrowed) and appends them to the device list as one record.
HRESULT AppendDeviceRecord(IWiaPropertyStorage* storage);

}  // namespace fotex
