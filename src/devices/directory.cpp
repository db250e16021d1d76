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

// Far beyond any machine (the scaling benchmark lists 10,000); a faulty service whose enumerator
// never reports the end would otherwise keep the call listing forever.
constexpr unsigned long kMaxDevices = 65536;

// Set while an enumeration runs: one started from a handler inside it is refused, so that the
// list being filled has one writer.
bool g_enumerating = false;

class Enumerating {
public:
    Enumerating() { g_enumerating = true; }
    Enumerating(const Enumerating&) = delete;
    Enumerating& operator=(const Enumerating&) = delete;
    ~Enumerating() { g_enumerating = false; }
};

void CopyField(const PROPVARIANT& value, WCHAR (&field)[kFieldUnits]) {
    if (value.vt != VT_BSTR || value.bstrVal == nullptr) return;
    for (size_t i = 0; i < kFieldTextUnits && value.bstrVal[i] != 0; ++i) field[i] = value.bstrVal[i];
}

}  // namespace

HRESULT AppendDeviceRecord(IWiaPropertyStorage* storage, DeviceLists& lists) {
    if (storage == nullptr) return E_INVALIDARG;

    const PROPSPEC specs[3] = {PropSpecById(wia::kDipDevId), PropSpecById(wia::kDipDevName),
                               PropSpecById(wia::kDipDevDesc)};
    PropVariants<3> values;
    HRESULT hr = values.ReadFrom(storage, specs);
    if (FAILED(hr)) {
        TraceHresult("Error calling IWiaPropertyStorage::ReadMultiple", hr);
        return hr;
    }

    DeviceRecord record;
    std::memset(&record, 0, sizeof record);
    CopyField(values[0], record.id);
    CopyField(values[1], record.name);
    CopyField(values[2], record.description);
    if (!lists.appendNext(record)) {
        TraceHresult("Device list cannot grow", kListCannotGrow);
        return kListCannotGrow;
    }
    return hr;
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL EnumerateWiaDevices(int* count) {
    // Inside another enumeration: its documented failure, nothing changed and nothing written.
    if (g_enumerating) return FOTEX_ENUM_SERVICE_FAILED;
    const Enumerating running;
    ComPtr<IWiaDevMgr> manager;
    if (FAILED(CreateDeviceManager(manager.put())) || !manager) return FOTEX_ENUM_NO_MANAGER;

    ComPtr<IEnumWIA_DEV_INFO> devices;
    HRESULT hr = devices.receive(manager->EnumDeviceInfo(wia::kDevInfoEnumLocal, devices.put()));
    if (FAILED(hr)) {
        TraceHresult("Error calling IWiaDevMgr::EnumDeviceInfo", hr);
        return FOTEX_ENUM_SERVICE_FAILED;
    }
    if (!devices) {
        // Success without an enumerator: nothing can be listed, and the list stays as it was.
        TraceHresult("Error calling IWiaDevMgr::EnumDeviceInfo", E_POINTER);
        return FOTEX_ENUM_SERVICE_FAILED;
    }

    hr = devices->Reset();
    if (FAILED(hr)) {
        TraceHresult("Error calling IEnumWIA_DEV_INFO::Reset()", hr);
        return FOTEX_ENUM_SERVICE_FAILED;
    }

    DeviceLists& lists = Devices();
    lists.startNext();
    unsigned long fetched = 0;
    while (hr == S_OK) {
        ComPtr<IWiaPropertyStorage> storage;
        hr = storage.fetch(devices->Next(1, storage.put(), nullptr));
        if (hr != S_OK) break;
        if (!storage) {
            // Success without a device: asking again may give the same answer forever.
            hr = E_POINTER;
            TraceHresult("Error calling IEnumWIA_DEV_INFO::Next", hr);
        } else if (++fetched > kMaxDevices) {
            hr = FOTEX_E_BOUNDS;
            TraceHresult("Too many devices", hr);
        } else if (AppendDeviceRecord(storage.get(), lists) == kListCannotGrow) {
            hr = kListCannotGrow;  // the devices listed so far stay readable
        }
    }
    if (hr == S_FALSE) hr = S_OK;
    lists.showNext();

    // Only records that could be read are counted, so every index below the count is readable.
    if (count != nullptr) *count = static_cast<int>(Devices().count());
    return hr == S_OK ? FOTEX_OK : FOTEX_ENUM_SERVICE_FAILED;
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
