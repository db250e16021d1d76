// Camera settings: one property of the root item read or written per call, through its storage.
// No trace lines: the status is the whole report. Nothing is allocated but the BSTR a text
// write hands the service.
#include "properties.h"

#include <cstring>

#include "com.h"
#include "handles.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

constexpr int kDone = 1;
constexpr int kRefused = -1;
constexpr int kNoStorage = -2;
constexpr int kNoDevice = -3;

// Units a text setter widens into, terminator included.
constexpr int kSentUnits = 128;
// Units a text getter copies at most: the host's buffer is 128 bytes.
constexpr size_t kReturnedUnits = FOTEX_TEXT_BYTES / sizeof(WCHAR);

// The storage of the device's root item, or the status that ends the call.
int OpenStorage(FOTEX_DEVICE device, ComPtr<IWiaPropertyStorage>& storage) {
    // Held for the query, which a handler that closes the device may run inside.
    const ComPtr<IWiaItem> root = HoldHandle(device);
    if (FAILED(QueryPropertyStorage(root.get(), storage))) return kNoStorage;
    return kDone;
}

// Reads one property; S_FALSE (the camera lacks it) is a failure like any other non-S_OK.
int Read(FOTEX_DEVICE device, PROPID id, PropVariants<1>& value) {
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != kDone) return status;
    const PROPSPEC selector = PropSpecById(id);
    return value.ReadFrom(storage.get(), &selector) == S_OK ? kDone : kRefused;
}

int Write(IWiaPropertyStorage* storage, PROPID id, const PROPVARIANT& value) {
    const PROPSPEC selector = PropSpecById(id);
    return storage->WriteMultiple(1, &selector, &value, wia::kIpaFirst) == S_OK ? kDone : kRefused;
}

}  // namespace

int ReadIntegerProperty(FOTEX_DEVICE device, PROPID id, int* value) {
    if (device == 0) return kNoDevice;
    if (value == nullptr) return kRefused;
    PropVariants<1> read;
    if (const int status = Read(device, id, read); status != kDone) return status;
    // Another type is no error, but the host's value stays as it was: no conversion.
    if (read[0].vt == VT_I4) *value = read[0].lVal;
    return kDone;
}

int WriteIntegerProperty(FOTEX_DEVICE device, PROPID id, int value) {
    if (device == 0) return kNoDevice;
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != kDone) return status;
    PROPVARIANT written{};
    written.vt = VT_I4;
    written.lVal = value;
    return Write(storage.get(), id, written);
}

int ReadTextProperty(FOTEX_DEVICE device, PROPID id, void* buffer) {
    if (device == 0) return kNoDevice;
    if (buffer == nullptr) return kRefused;
    PropVariants<1> read;
    if (const int status = Read(device, id, read); status != kDone) return status;
    if (read[0].vt != VT_BSTR) return kDone;

    // Raw UTF-16 units; a text of 64 units or more fills the buffer and has no terminator.
    const BSTR text = read[0].bstrVal;
    size_t units = 0;
    if (text != nullptr)
        while (units < kReturnedUnits && text[units] != 0) ++units;
    auto* out = static_cast<WCHAR*>(buffer);
    if (units != 0) std::memcpy(out, text, units * sizeof(WCHAR));
    if (units < kReturnedUnits) out[units] = 0;
    return kDone;
}

int WriteTextProperty(FOTEX_DEVICE device, PROPID id, const char* text) {
    if (device == 0) return kNoDevice;
    if (text == nullptr) return kRefused;
    ComPtr<IWiaPropertyStorage> storage;
    if (const int status = OpenStorage(device, storage); status != kDone) return status;

    // Text that does not fit whole is refused rather than cut: the camera never stores a
    // setting the host did not send.
    WCHAR wide[kSentUnits];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kSentUnits) == 0) return kRefused;
    Bstr string(wide);
    if (!string) return kRefused;

    PROPVARIANT written{};
    written.vt = VT_BSTR;
    written.bstrVal = string.get();
    return Write(storage.get(), id, written);
}

}  // namespace fotex
