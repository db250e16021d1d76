// An item's data into the host's memory: through the service's memory transfer when the item
// offers one, else through a temporary file that is always removed.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "busy.h"
#include "com.h"
#include "contents.h"
#include "fotex.h"
#include "handles.h"
#include "item_data.h"
#include "progress.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// The service's transfer buffer: large enough that a big item takes few callbacks.
constexpr ULONG kBandBytes = 256 * 1024;

// The data of a read that did not fit, kept for the read that follows with a larger buffer, so
// that asking for the size costs the only transfer. One at a time; larger data is not kept.
constexpr uint32_t kKeptBytes = 64 * 1024 * 1024;  // as fotex.h says

struct KeptRead {
    IWiaItem* item = nullptr;  // compared, never called: its handle's release drops the read first
    GUID format{};
    uint8_t* data = nullptr;
    uint32_t size = 0;
};

// Frees its storage at process end; holds no reference, so it never calls the service.
class KeptReadSlot {
public:
    constexpr KeptReadSlot() = default;
    KeptReadSlot(const KeptReadSlot&) = delete;
    KeptReadSlot& operator=(const KeptReadSlot&) = delete;
    ~KeptReadSlot() { std::free(read_.data); }

    // Takes the storage of `read`, replacing what was kept.
    void Put(const KeptRead& read) {
        std::free(read_.data);
        read_ = read;
    }
    // The kept read of the item in the format, handed over; anything else kept for the item is
    // dropped.
    bool Take(IWiaItem* item, const GUID& format, KeptRead& out) {
        if (read_.item != item) return false;
        const bool same = read_.format == format;
        if (same) out = read_;
        else std::free(read_.data);
        read_ = KeptRead();
        return same;
    }
    void Drop(IWiaItem* item) {
        if (read_.item != item) return;
        std::free(read_.data);
        read_ = KeptRead();
    }

private:
    KeptRead read_;
};

KeptReadSlot g_kept;
// Counts the drops: a read whose transfer saw one (a handler released the handle or used the item
// meanwhile) keeps nothing, since the item object may be gone once the read returns.
uint32_t g_drops = 0;

// Owns a kept read taken out of the slot.
struct TakenRead {
    KeptRead read;
    ~TakenRead() { std::free(read.data); }
};

// Whether WIA_IPA_TYMED lists TYMED_CALLBACK among its values.
bool OffersMemory(IWiaPropertyStorage* storage) {
    PROPSPEC selector = PropSpecById(wia::kIpaTymed);
    ULONG flags = 0;
    PropVariants<1> attributes;
    if (Retrying([&] { return attributes.AttributesFrom(storage, &selector, &flags); }) != S_OK) return false;
    const PROPVARIANT& v = attributes[0];
    if ((flags & wia::kPropList) == 0 || v.vt != (VT_VECTOR | VT_I4) || v.cal.pElems == nullptr) return false;
    for (ULONG i = wia::kListValues; i < v.cal.cElems; ++i)
        if (v.cal.pElems[i] == TYMED_CALLBACK) return true;
    return false;
}

HRESULT ReadIntoMemory(IWiaItem* item, IWiaPropertyStorage* storage, const GUID& format, TransferCallback* callback) {
    HRESULT hr = WriteFormatAndMedium(storage, format, TYMED_CALLBACK);
    if (hr == E_INVALIDARG) return FOTEX_E_FORMAT;
    if (FAILED(hr)) return ServiceStatus(hr);
    ComPtr<IWiaDataTransfer> transfer;
    hr = QueryDataTransfer(item, transfer);
    if (hr != S_OK) return ServiceStatus(hr);
    WIA_DATA_TRANSFER_INFO info;
    std::memset(&info, 0, sizeof info);
    info.ulSize = sizeof info;
    info.ulBufferSize = kBandBytes;
    callback->Expect(format);
    callback->KeepOverflow(kKeptBytes);
    return callback->Outcome(ServiceStatus(Retrying([&] { return transfer->idtGetBandedData(&info, callback); })));
}

// A file in the temporary folder, removed with its owner.
class TemporaryFile {
public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (made_) DeleteFileW(path_);
    }
    HRESULT Make() {
        WCHAR folder[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
        if (length == 0 || length > MAX_PATH) return HRESULT_FROM_WIN32(length == 0 ? GetLastError() : ERROR_BUFFER_OVERFLOW);
        if (GetTempFileNameW(folder, L"ftx", 0, path_) == 0) return HRESULT_FROM_WIN32(GetLastError());
        made_ = true;
        return S_OK;
    }
    WCHAR* path() { return path_; }

private:
    WCHAR path_[MAX_PATH];
    bool made_ = false;
};

// The file's bytes into the buffer when they fit, else into `kept` (storage of its own, null
// when larger than kKeptBytes or not to be had); its size in `size` either way.
HRESULT ReadFileInto(const WCHAR* path, void* buffer, uint32_t capacity, uint32_t& size, uint8_t*& kept) {
    File file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.get(), &length)) return HRESULT_FROM_WIN32(GetLastError());
    if (length.QuadPart > INT_MAX) return FOTEX_E_OVERFLOW;
    size = static_cast<uint32_t>(length.QuadPart);
    void* into = buffer;
    if (size > capacity) {
        if (size > kKeptBytes || (kept = static_cast<uint8_t*>(std::malloc(size))) == nullptr)
            return FOTEX_E_INSUFFICIENT_BUFFER;
        into = kept;
    }
    DWORD read = 0;
    if (size > 0 && !ReadFile(file.get(), into, size, &read, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
    if (read != size) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    return size > capacity ? FOTEX_E_INSUFFICIENT_BUFFER : S_OK;
}

// The read that the last call kept for this item and format: no transfer. S_FALSE when none.
HRESULT ReadKept(IWiaItem* item, const GUID& format, void* buffer, uint32_t capacity, uint32_t& size,
                 FOTEX_PROGRESS progress, void* context) {
    // Out of the slot before the host's routine runs: a call from it finds nothing half used.
    TakenRead taken;
    if (!g_kept.Take(item, format, taken.read)) return S_FALSE;
    size = taken.read.size;
    if (size > capacity) {
        g_kept.Put(taken.read);
        taken.read = KeptRead();
        return FOTEX_E_INSUFFICIENT_BUFFER;
    }
    if (size > 0) std::memcpy(buffer, taken.read.data, size);
    if (progress != nullptr && progress(context, 100) != 0) return FOTEX_E_CANCELLED;
    return S_OK;
}

}  // namespace

void ForgetKeptRead(IWiaItem* item) {
    ++g_drops;
    g_kept.Drop(item);
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL ReadCameraItem(FOTEX_ITEM item, int format, void* buffer, int capacity, int* size,
                                         FOTEX_PROGRESS progress, void* context) {
    if (item == 0) return FOTEX_E_HANDLE;
    HRESULT hr = CheckBuffer(buffer, capacity, size);
    if (hr != S_OK) return hr;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    // From here on a handler that gives the handle back (inside any service call) is counted,
    // so nothing is kept under a value that may name another object once the read returns.
    SetHandleForgetter(&ForgetHandle);
    const uint32_t drops = g_drops;
    GUID wanted;
    hr = DataFormat(picture.get(), format, wanted);
    if (hr != S_OK) {
        ForgetKeptRead(picture.get());
        return FailureStatus(hr);
    }

    const uint32_t room = static_cast<uint32_t>(capacity);
    uint32_t bytes = 0;
    hr = ReadKept(picture.get(), wanted, buffer, room, bytes, progress, context);
    if (hr == S_FALSE) {
        ComPtr<IWiaPropertyStorage> storage;
        hr = QueryPropertyStorage(picture.get(), storage);
        if (FAILED(hr)) return ServiceStatus(hr);
        KeptRead kept = {picture.get(), wanted, nullptr, 0};
        if (OffersMemory(storage.get())) {
            HeldCallback callback(TransferCallback::Create(progress, context, buffer, room));
            if (callback.get() == nullptr) return E_OUTOFMEMORY;
            hr = ReadIntoMemory(picture.get(), storage.get(), wanted, callback.get());
            bytes = callback->received();
            if (hr == S_OK && bytes > room) {
                hr = FOTEX_E_INSUFFICIENT_BUFFER;
                kept.data = callback->TakeKept();
            }
            if (hr == S_OK) hr = callback->Complete();
        } else {
            HeldCallback callback(progress != nullptr ? TransferCallback::Create(progress, context) : nullptr);
            if (progress != nullptr && callback.get() == nullptr) return E_OUTOFMEMORY;
            TemporaryFile file;
            hr = file.Make();
            if (hr == S_OK) hr = GetItemDataIntoFile(picture.get(), wanted, file.path(), callback.get());
            if (hr == S_OK) hr = ReadFileInto(file.path(), buffer, room, bytes, kept.data);
            if (hr == S_OK && callback.get() != nullptr) hr = callback->Complete();
        }
        if (kept.data != nullptr && hr == FOTEX_E_INSUFFICIENT_BUFFER && drops == g_drops) {
            kept.size = bytes;
            g_kept.Put(kept);  // the handle's release drops it
        } else {
            std::free(kept.data);
        }
    }
    if (hr == FOTEX_E_INSUFFICIENT_BUFFER) *size = static_cast<int>(bytes);
    if (hr != S_OK) return FailureStatus(hr);
    *size = static_cast<int>(bytes);
    return FOTEX_OK;
}
