// An item's data into the host's memory: through the service's memory transfer when the item
// offers one, else through a temporary file that is always removed.
#include <climits>
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
    if (FAILED(hr)) return hr;
    ComPtr<IWiaDataTransfer> transfer;
    hr = QueryDataTransfer(item, transfer);
    if (hr != S_OK) return hr;
    WIA_DATA_TRANSFER_INFO info;
    std::memset(&info, 0, sizeof info);
    info.ulSize = sizeof info;
    info.ulBufferSize = kBandBytes;
    return callback->Outcome(Retrying([&] { return transfer->idtGetBandedData(&info, callback); }));
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

// The file's bytes into the buffer when they fit; its size in `size` either way.
HRESULT ReadFileInto(const WCHAR* path, void* buffer, uint32_t capacity, uint32_t& size) {
    File file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    LARGE_INTEGER length;
    if (!GetFileSizeEx(file.get(), &length)) return HRESULT_FROM_WIN32(GetLastError());
    if (length.QuadPart > INT_MAX) return FOTEX_E_OVERFLOW;
    size = static_cast<uint32_t>(length.QuadPart);
    if (size > capacity) return FOTEX_E_INSUFFICIENT_BUFFER;
    DWORD read = 0;
    if (size > 0 && !ReadFile(file.get(), buffer, size, &read, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
    return read == size ? S_OK : HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
}

}  // namespace

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL ReadCameraItem(FOTEX_ITEM item, int format, void* buffer, int capacity, int* size,
                                         FOTEX_PROGRESS progress, void* context) {
    if (item == 0) return FOTEX_E_HANDLE;
    HRESULT hr = CheckBuffer(buffer, capacity, size);
    if (hr != S_OK) return hr;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    GUID wanted;
    hr = DataFormat(picture.get(), format, wanted);
    if (hr != S_OK) return FailureStatus(hr);
    ComPtr<IWiaPropertyStorage> storage;
    hr = QueryPropertyStorage(picture.get(), storage);
    if (FAILED(hr)) return hr;

    const uint32_t room = static_cast<uint32_t>(capacity);
    uint32_t bytes = 0;
    if (OffersMemory(storage.get())) {
        HeldCallback callback(TransferCallback::Create(progress, context, buffer, room));
        if (callback.get() == nullptr) return E_OUTOFMEMORY;
        hr = ReadIntoMemory(picture.get(), storage.get(), wanted, callback.get());
        bytes = callback->received();
        if (hr == S_OK && bytes > static_cast<uint32_t>(INT_MAX)) hr = FOTEX_E_OVERFLOW;
        if (hr == S_OK && bytes > room) hr = FOTEX_E_INSUFFICIENT_BUFFER;
        if (hr == S_OK) hr = callback->Complete();
    } else {
        HeldCallback callback(progress != nullptr ? TransferCallback::Create(progress, context) : nullptr);
        if (progress != nullptr && callback.get() == nullptr) return E_OUTOFMEMORY;
        TemporaryFile file;
        hr = file.Make();
        if (hr == S_OK) hr = GetItemDataIntoFile(picture.get(), wanted, file.path(), callback.get());
        if (hr == S_OK) hr = ReadFileInto(file.path(), buffer, room, bytes);
        if (hr == S_OK && callback.get() != nullptr) hr = callback->Complete();
    }
    if (hr == FOTEX_E_INSUFFICIENT_BUFFER) *size = static_cast<int>(bytes);
    if (hr != S_OK) return FailureStatus(hr);
    *size = static_cast<int>(bytes);
    return FOTEX_OK;
}
