// Camera settings: one property of the root item read or written per call, through its storage.
// No trace lines: the status is the whole report. Nothing is allocated but the BSTR a text
// write hands the service.
#include "properties.h"

#include <cstring>

#include "com.h"
#include "handles.h"
#include "service.h"
#include "text_units.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// The storage of the device's root item, or the status that ends the call.
int OpenStorage(FOTEX_DEVICE device, ComPtr<IWiaPropertyStorage>& storage) {
    // Held for the query, which a handler that closes the device may run inside.
    const ComPtr<IWiaItem> root = HoldHandle(device);
    if (FAILED(QueryPropertyStorage(root.get(), storage))) return FOTEX_ERR_NO_STORAGE;
    return FOTEX_OK;
}

// Reads one property; S_FALSE (the camera lacks it) is a failure like any other non-S_OK.
int Read(FOTEX_DEVICE device, PROPID id, PropVariants<1>& value) {
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != FOTEX_OK) return status;
    const PROPSPEC selector = PropSpecById(id);
    return value.ReadFrom(storage.get(), &selector) == S_OK ? FOTEX_OK : FOTEX_ERR_REFUSED;
}

int Write(IWiaPropertyStorage* storage, PROPID id, const PROPVARIANT& value) {
    const PROPSPEC selector = PropSpecById(id);
    return storage->WriteMultiple(1, &selector, &value, wia::kIpaFirst) == S_OK ? FOTEX_OK : FOTEX_ERR_REFUSED;
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
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != FOTEX_OK) return status;
    PROPVARIANT written{};
    written.vt = VT_I4;
    written.lVal = value;
    return Write(storage.get(), id, written);
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
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != FOTEX_OK) return status;

    // Text that does not fit whole is refused rather than cut: the camera never stores a
    // setting the host did not send.
    WCHAR wide[kWideTextUnits];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, static_cast<int>(kWideTextUnits)) == 0) return FOTEX_ERR_REFUSED;
    Bstr string(wide);
    if (!string) return FOTEX_ERR_REFUSED;

    PROPVARIANT written{};
    written.vt = VT_BSTR;
    written.bstrVal = string.get();
    return Write(storage.get(), id, written);
}

}  // namespace fotex
