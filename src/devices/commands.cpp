// Device commands and queries: take picture, delete all, the command capabilities and the two
// storage counters of an open device.
#include <cstring>

#include "com.h"
#include "conditions.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"
#include "wia_ids.h"

using namespace fotex;

namespace {

// One capability record; its four strings are the service's, freed once the record was read.
class DevCap {
public:
    DevCap() { std::memset(&cap_, 0, sizeof cap_); }
    DevCap(const DevCap&) = delete;
    DevCap& operator=(const DevCap&) = delete;
    ~DevCap() { Free(); }

    // The record for one Next call. Whatever a failing call left in it is not ours to free.
    WIA_DEV_CAP* put() {
        Free();
        return &cap_;
    }
    void forget() { std::memset(&cap_, 0, sizeof cap_); }
    const GUID& command() const { return cap_.guid; }

private:
    void Free() {
        BSTR* strings[] = {&cap_.bstrName, &cap_.bstrDescription, &cap_.bstrIcon, &cap_.bstrCommandline};
        for (BSTR* s : strings) {
            if (*s) SysFreeString(*s);
            *s = nullptr;
        }
    }
    WIA_DEV_CAP cap_;
};

void SetFlag(int* flag, int value) {
    if (flag != nullptr) *flag = value;
}

}  // namespace

// Each command holds the device for its own length: a handler inside a service call may close it.

extern "C" int FOTEX_CALL EnumDeviceCap(FOTEX_DEVICE device, int* takePicture, int* deleteAll) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    return OnDevice(device, [&](IWiaItem* root) {
        ComPtr<IEnumWIA_DEV_CAPS> caps;
        const HRESULT hr =
            Retrying([&] { return caps.receive(root->EnumDeviceCapabilities(wia::kDeviceCommands, caps.put())); });
        if (hr != S_OK) return FOTEX_CAP_ASK_FAILED;
        if (!caps) return FOTEX_CAP_NO_LIST;
        if (Retrying([&] { return caps->Reset(); }) != S_OK) return FOTEX_CAP_RESET_FAILED;

        SetFlag(takePicture, 0);
        SetFlag(deleteAll, 0);
        ULONG count = 0;
        if (Retrying([&] { return caps->GetCount(&count); }) != S_OK) return FOTEX_CAP_COUNT_FAILED;

        for (ULONG i = 0; i < count; ++i) {
            DevCap record;
            if (Retrying([&] { return caps->Next(1, record.put(), nullptr); }) != S_OK) {
                record.forget();
                return FOTEX_CAP_READ_FAILED;
            }
            if (IsEqualGUID(record.command(), wia::WIA_CMD_TAKE_PICTURE)) SetFlag(takePicture, 1);
            if (IsEqualGUID(record.command(), wia::WIA_CMD_DELETE_ALL_ITEMS)) SetFlag(deleteAll, 1);
        }
        // The status is an int; a count beyond that cannot be reported, only capped.
        return count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(count);
    });
}

extern "C" void FOTEX_CALL DeleteAll(FOTEX_DEVICE device) {
    if (device == 0) return;
    OnDevice(device, [&](IWiaItem* root) {
        // Delete-all hands out no item; should a service hand one out anyway, it is released here.
        ComPtr<IWiaItem> unused;
        return Retrying([&] { return unused.receive(root->DeviceCommand(0, &wia::WIA_CMD_DELETE_ALL_ITEMS, unused.put())); });
    });
}

extern "C" void FOTEX_CALL TakeAPicture(FOTEX_DEVICE device, FOTEX_ITEM* item) {
    // Without a place for the new item its reference would be lost: take no picture.
    if (device == 0 || item == nullptr) return;
    // The host's variable gets the item only on success: after a failure it is 0, never
    // something the service left behind that a host would pass on and release.
    ComPtr<IWiaItem> picture;
    const HRESULT hr = OnDevice(device, [&](IWiaItem* root) {
        return Retrying([&] { return picture.receive(root->DeviceCommand(0, &wia::WIA_CMD_TAKE_PICTURE, picture.put())); });
    });
    if (hr != S_OK) {
        *item = 0;
        picture.reset();
        MessageBoxA(nullptr, "error taking picture", "Info", MB_ICONERROR);
        return;
    }
    *item = HandleFromItem(picture.detach());
}

extern "C" int FOTEX_CALL GetStorageInfo(FOTEX_DEVICE device, int* taken, int* remaining) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    return OnDevice(device, [&](IWiaItem* root) {
        ComPtr<IWiaPropertyStorage> storage;
        if (FAILED(QueryPropertyStorage(root, storage))) return FOTEX_ERR_NO_STORAGE;

        const PROPSPEC specs[2] = {PropSpecById(wia::kDpcPicturesTaken), PropSpecById(wia::kDpcPicturesRemaining)};
        PropVariants<2> values;
        if (Retrying([&] { return values.ReadFrom(storage.get(), specs); }) != S_OK) return FOTEX_ERR_REFUSED;
        if (values[0].vt == VT_I4 && taken != nullptr) *taken = values[0].lVal;
        if (values[1].vt == VT_I4 && remaining != nullptr) *remaining = values[1].lVal;
        return FOTEX_OK;
    });
}
