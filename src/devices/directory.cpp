// Device directory: listing the local devices and reading their identity.
#include "directory.h"

#include <cstring>

#include "com.h"
#include "device_list.h"
#include "fotex.h"
#include "service.h"
#include "trace.h"
#include "wia_ids.h"

namespace fotex {

namespace {

void CopyField(const PROPVARIANT& value, WCHAR (&field)[kFieldUnits]) {
    if (value.vt != VT_BSTR || value.bstrVal == nullptr) return;
    for (size_t i = 0; i < kFieldTextUnits && value.bstrVal[i] != 0; ++i) field[i] = value.bstrVal[i];
}

}  // namespace

HRESULT AppendDeviceRecord(IWiaPropertyStorage* storage) {
    if (storage == nullptr) return E_INVALIDARG;

    const PROPSPEC specs[3] = {PropSpecById(wia::kDipDevId), PropSpecById(wia::kDipDevName),
                               PropSpecById(wia::kDipDevDesc)};
    PropVariants<3> values;
    HRESULT hr = storage->ReadMultiple(values.size(), specs, values.data());
    if (FAILED(hr)) {
        TraceHresult("Error calling IWiaPropertyStorage::ReadMultiple", hr);
        return hr;
    }

    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    CopyField(values[0], record.id);
    CopyField(values[1], record.name);
    CopyField(values[2], record.description);
    if (!Devices().append(record)) return E_OUTOFMEMORY;
    return hr;
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL EnumerateWiaDevices(int* count) {
    ComPtr<IWiaDevMgr> manager;
    if (FAILED(CreateDeviceManager(manager.put())) || !manager) return -2;

    ComPtr<IEnumWIA_DEV_INFO> devices;
    HRESULT hr = manager->EnumDeviceInfo(wia::kDevInfoEnumLocal, devices.put());
    if (FAILED(hr)) {
        devices.detach();
        TraceHresult("Error calling IWiaDevMgr::EnumDeviceInfo", hr);
        return -1;
    }
    if (!devices) {
        // Success without an enumerator: nothing can be listed, and the list stays as it was.
        TraceHresult("Error calling IWiaDevMgr::EnumDeviceInfo", E_POINTER);
        return -1;
    }

    hr = devices->Reset();
    if (FAILED(hr)) {
        TraceHresult("Error calling IEnumWIA_DEV_INFO::Reset()", hr);
        return -1;
    }

    Devices().clear();
    while (hr == S_OK) {
        ComPtr<IWiaPropertyStorage> storage;
        hr = devices->Next(1, storage.put(), nullptr);
        if (hr == S_OK) {
            if (storage) AppendDeviceRecord(storage.get());
        } else {
            storage.detach();
        }
    }
    if (hr == S_FALSE) hr = S_OK;

    // Only records that could be read are counted, so every index below the count is readable.
    if (count != nullptr) *count = static_cast<int>(Devices().count());
    return hr == S_OK ? 1 : -1;
}

extern "C" void FOTEX_CALL GetWiaDeviceInfo(int index, void* id, void* name, void* description) {
    const uint32_t position = static_cast<uint32_t>(index);
    if (position >= Devices().count()) {
        TraceHresult("Device index overflow", 0);
        return;
    }
    const DeviceRecord& record = Devices().at(position);
    constexpr size_t kBytes = kFieldTextUnits * sizeof(WCHAR);
    if (id != nullptr) std::memcpy(id, record.id, kBytes);
    if (name != nullptr) std::memcpy(name, record.name, kBytes);
    if (description != nullptr) std::memcpy(description, record.description, kBytes);
}
