// Camera settings: one property of the root item read or written per call, through its storage.
// No trace lines: the status is the whole report. Nothing is allocated but the BSTR a text
// write hands the service.
#include "properties.h"

#include <cstring>

#include "com.h"
#include "conditions.h"
#include "handles.h"
#include "service.h"
#include "text_units.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// Uses the storage of the device's root item, or returns the status that ends the call; once
// more on the new root when the device came back.
template <class Use>
int OnStorage(FOTEX_DEVICE device, Use use) {
    return OnDevice(device, [&](IWiaItem* root) {
        ComPtr<IWiaPropertyStorage> storage;
        if (FAILED(QueryPropertyStorage(root, storage))) return FOTEX_ERR_NO_STORAGE;
        return use(storage.get());
    });
}

// Reads one property; S_FALSE (the camera lacks it) is a failure like any other non-S_OK.
int Read(FOTEX_DEVICE device, PROPID id, PropVariants<1>& value) {
    const PROPSPEC selector = PropSpecById(id);
    return OnStorage(device, [&](IWiaPropertyStorage* storage) {
        return Retrying([&] { return value.ReadFrom(storage, &selector); }) == S_OK ? FOTEX_OK : FOTEX_ERR_REFUSED;
    });
}

int Write(IWiaPropertyStorage* storage, PROPID id, const PROPVARIANT& value) {
    const PROPSPEC selector = PropSpecById(id);
    return Retrying([&] { return storage->WriteMultiple(1, &selector, &value, wia::kIpaFirst); }) == S_OK ? FOTEX_OK
                                                                                             : FOTEX_ERR_REFUSED;
}

}  // namespace

int ReadIntegerProperty(FOTEX_DEVICE device, PROPID id, int* value) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    if (value == nullptr) return FOTEX_ERR_REFUSED;
    PropVariants<1> read;
    if (const int status = Read(device, id, read); status != FOTEX_OK) return status;
    // Another type is no error, but the host's value stays as it was: no conversion.
    if (read[0].vt == VT_I4) *value = read[0].lVal;
    return FOTEX_OK;
}

int WriteIntegerProperty(FOTEX_DEVICE device, PROPID id, int value) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    PROPVARIANT written{};
    written.vt = VT_I4;
    written.lVal = value;
    return OnStorage(device, [&](IWiaPropertyStorage* storage) { return Write(storage, id, written); });
}

int ReadTextProperty(FOTEX_DEVICE device, PROPID id, void* buffer) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    if (buffer == nullptr) return FOTEX_ERR_REFUSED;
    PropVariants<1> read;
    if (const int status = Read(device, id, read); status != FOTEX_OK) return status;
    if (read[0].vt != VT_BSTR) return FOTEX_OK;

    // Raw UTF-16 units; a text of 64 units or more fills the buffer and has no terminator.
    const BSTR text = read[0].bstrVal;
    size_t units = 0;
    if (text != nullptr)
        while (units < kHostTextUnits && text[units] != 0) ++units;
    auto* out = static_cast<WCHAR*>(buffer);
    if (units != 0) std::memcpy(out, text, units * sizeof(WCHAR));
    if (units < kHostTextUnits) out[units] = 0;
    return FOTEX_OK;
}

int WriteTextProperty(FOTEX_DEVICE device, PROPID id, const char* text) {
    if (device == 0) return FOTEX_ERR_NO_DEVICE;
    if (text == nullptr) return FOTEX_ERR_REFUSED;
    // Text that does not fit whole is refused rather than cut: the camera never stores a
    // setting the host did not send.
    WCHAR wide[kWideTextUnits];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(kWideTextUnits)) == 0) return FOTEX_ERR_REFUSED;
    Bstr string(wide);
    if (!string) return FOTEX_ERR_REFUSED;

    PROPVARIANT written{};
    written.vt = VT_BSTR;
    written.bstrVal = string.get();
    return OnStorage(device, [&](IWiaPropertyStorage* storage) { return Write(storage, id, written); });
}

}  // namespace fotex
