// Saving an item or its thumbnail into a file of the host's choosing: the data goes into a
// temporary file beside the target, which takes the target's name only once it is complete.
#include <cstdlib>
#include <cstring>

#include "busy.h"
#include "com.h"
#include "contents.h"
#include "fotex.h"
#include "handles.h"
#include "integers.h"
#include "item_data.h"
#include "progress.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

constexpr WCHAR kLongPrefix[] = L"\\\\?\\";
constexpr WCHAR kLongUncPrefix[] = L"\\\\?\\UNC\\";
constexpr uint32_t kPrefixRoom = 8;  // "\\?\UNC\" less the "\\" it replaces, with room to spare
// "\~fotex-" and two numbers of eight hex digits, ".tmp", the terminator.
constexpr uint32_t kTemporaryRoom = 40;

// Numbers the temporary files of this process; with the process id it makes their names unique.
LONG g_temporaries = 0;

bool StartsWith(const WCHAR* text, const WCHAR* prefix) {
    for (; *prefix != 0; ++text, ++prefix)
        if (*text != *prefix) return false;
    return true;
}

WCHAR* PutHex(WCHAR* out, DWORD value) {
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = L"0123456789abcdef"[(value >> shift) & 0xF];
    return out;
}

// The target's full name and, beside it, the temporary file's, in one block: long names get the
// \\?\ form, which the file system takes at any length.
class FileNames {
public:
    FileNames() = default;
    FileNames(const FileNames&) = delete;
    FileNames& operator=(const FileNames&) = delete;
    ~FileNames() { std::free(block_); }

    HRESULT Make(const wchar_t* fileName) {
        const DWORD needed = GetFullPathNameW(fileName, 0, nullptr, nullptr);
        if (needed == 0) return HRESULT_FROM_WIN32(GetLastError());
        const size_t units = static_cast<size_t>(needed) + kPrefixRoom + 1;
        block_ = static_cast<WCHAR*>(std::malloc((2 * units + kTemporaryRoom) * sizeof(WCHAR)));
        if (block_ == nullptr) return E_OUTOFMEMORY;
        WCHAR* full = block_ + kPrefixRoom;
        const DWORD length = GetFullPathNameW(fileName, needed, full, nullptr);
        if (length == 0 || length >= needed) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);

        target_ = full;
        // The temporary name is longer than the target's when the target's name is short; both
        // take the long form once either could pass MAX_PATH.
        if (length + kTemporaryRoom >= MAX_PATH && !StartsWith(full, kLongPrefix)) {
            if (StartsWith(full, L"\\\\")) {
                target_ = full + 2 - 8;
                std::memcpy(target_, kLongUncPrefix, 8 * sizeof(WCHAR));
            } else {
                target_ = full - 4;
                std::memcpy(target_, kLongPrefix, 4 * sizeof(WCHAR));
            }
        }
        const size_t targetUnits = lstrlenW(target_);
        size_t folder = targetUnits;
        while (folder > 0 && target_[folder - 1] != L'\\') --folder;
        if (folder == 0 || folder == targetUnits) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);

        temporary_ = block_ + units;
        std::memcpy(temporary_, target_, folder * sizeof(WCHAR));
        WCHAR* tail = temporary_ + folder;
        for (const WCHAR* p = L"~fotex-"; *p != 0; ++p) *tail++ = *p;
        tail = PutHex(tail, GetCurrentProcessId());
        *tail++ = L'-';
        tail = PutHex(tail, static_cast<DWORD>(InterlockedIncrement(&g_temporaries)));
        for (const WCHAR* p = L".tmp"; *p != 0; ++p) *tail++ = *p;
        *tail = 0;
        return S_OK;
    }

    const WCHAR* target() const { return target_; }
    WCHAR* temporary() const { return temporary_; }

private:
    WCHAR* block_ = nullptr;
    WCHAR* target_ = nullptr;
    WCHAR* temporary_ = nullptr;
};

// The size the item gives for its data in `format`, when that is its own format; 0 when it gives
// none (another format's size is known only once converted).
uint64_t OwnFormatSize(IWiaItem* item, const GUID& format) {
    ComPtr<IWiaPropertyStorage> storage;
    if (FAILED(QueryPropertyStorage(item, storage))) return 0;
    const PROPSPEC specs[2] = {PropSpecById(wia::kIpaPreferredFormat), PropSpecById(wia::kIpaItemSize)};
    PropVariants<2> values;
    if (values.ReadFrom(storage.get(), specs) != S_OK) return 0;
    if (values[0].vt != VT_CLSID || values[0].puuid == nullptr || !IsEqualGUID(*values[0].puuid, format)) return 0;
    const PROPVARIANT& size = values[1];
    switch (size.vt) {
        case VT_I4: return size.lVal > 0 ? static_cast<uint64_t>(size.lVal) : 0;
        case VT_UI4: return size.ulVal;
        case VT_I8: return size.hVal.QuadPart > 0 ? static_cast<uint64_t>(size.hVal.QuadPart) : 0;
        case VT_UI8: return size.uhVal.QuadPart;
        default: return 0;
    }
}

// The service writes the item's data. In the item's own format the file must be as long as the
// item says: a service that takes a short write for success (a full disk) would otherwise hand
// over a cut picture, and with FOTEX_SAVE_DELETE lose the camera's copy.
class ItemMaker final : public FileMaker {
public:
    ItemMaker(IWiaItem* item, const GUID& format, TransferCallback* callback)
        : item_(item), format_(format), callback_(callback) {}
    HRESULT Write(WCHAR* path) override {
        HRESULT hr = GetItemDataIntoFile(item_, format_, path, callback_);
        if (hr == S_OK) hr = CheckSize(path);
        return hr == S_OK && callback_ != nullptr ? callback_->Complete() : hr;
    }

private:
    HRESULT CheckSize(const WCHAR* path) const {
        const uint64_t expected = OwnFormatSize(item_, format_);
        if (expected == 0) return S_OK;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return HRESULT_FROM_WIN32(GetLastError());
        const uint64_t written = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        return written == expected ? S_OK : FOTEX_E_INCOMPLETE;
    }

    IWiaItem* item_;
    const GUID& format_;
    TransferCallback* callback_;
};

// Little-endian fields of the two BMP headers.
void Put16(uint8_t*& p, uint32_t v) {
    *p++ = static_cast<uint8_t>(v);
    *p++ = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t*& p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p, v >> 16);
}

constexpr uint32_t kBmpHeaderBytes = 14 + 40;

// The thumbnail becomes a 24-bit BMP. The service gives WIA_IPC_THUMBNAIL as the pixels of a
// 24-bit bottom-up DIB without header: BGR, each row padded to four bytes, which is exactly a BMP
// file's pixel array. Some drivers leave the rows unpadded; such data is padded here.
class ThumbnailMaker final : public FileMaker {
public:
    explicit ThumbnailMaker(IWiaItem* item) : item_(item) {}

    HRESULT Write(WCHAR* path) override {
        // Read before the temporary file exists, so a missing thumbnail leaves nothing to undo.
        if (!read_) return E_UNEXPECTED;
        File file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        const HRESULT hr = Emit([&file](const void* data, uint32_t size) { return file.Put(data, size); });
        const HRESULT closed = file.Close();
        return FAILED(hr) ? hr : closed;
    }

    // The BMP file's size; known once read.
    uint32_t bytes() const { return kBmpHeaderBytes + stride_ * height_; }

    // The BMP file into `out`, which holds bytes().
    void CopyTo(uint8_t* out) const {
        Emit([&out](const void* data, uint32_t size) {
            std::memcpy(out, data, size);
            out += size;
            return S_OK;
        });
    }

    // Reads the thumbnail and its size and checks that they make a picture.
    HRESULT Read() {
        ComPtr<IWiaPropertyStorage> storage;
        HRESULT hr = QueryPropertyStorage(item_, storage);
        if (FAILED(hr)) return ServiceStatus(hr);
        const PROPSPEC specs[3] = {PropSpecById(wia::kIpcThumbnail), PropSpecById(wia::kIpcThumbWidth),
                                   PropSpecById(wia::kIpcThumbHeight)};
        hr = Retrying([&] { return values_.ReadFrom(storage.get(), specs); });
        if (FAILED(hr)) return ServiceStatus(hr);
        const PROPVARIANT& data = values_[0];
        int w = 0, h = 0;
        if (data.vt != (VT_VECTOR | VT_UI1)) return FOTEX_E_NOT_FOUND;
        hr = IntValue(values_[1], &w, false);
        if (hr == S_OK) hr = IntValue(values_[2], &h, false);
        if (hr == FOTEX_E_NOT_FOUND || hr == FOTEX_E_TYPE) return FOTEX_E_NOT_FOUND;
        // Far beyond any thumbnail; keeps the sizes below in 32 bits.
        if (hr != S_OK || w <= 0 || h <= 0 || w > 0x4000 || h > 0x4000 || data.caub.pElems == nullptr)
            return FOTEX_E_VALUE;
        width_ = static_cast<uint32_t>(w);
        height_ = static_cast<uint32_t>(h);
        stride_ = (width_ * 3 + 3) & ~3u;
        if (data.caub.cElems >= stride_ * height_)
            padded_ = true;
        else if (data.caub.cElems < width_ * 3 * height_)
            return FOTEX_E_VALUE;
        read_ = true;
        return S_OK;
    }

private:
    // Hands the file's bytes, in order, to `put`, which returns an HRESULT; stops at its first
    // failure.
    template <class Put>
    HRESULT Emit(Put&& put) const {
        uint8_t header[kBmpHeaderBytes];
        uint8_t* p = header;
        Put16(p, 0x4D42);  // "BM"
        Put32(p, bytes());
        Put32(p, 0);
        Put32(p, kBmpHeaderBytes);
        Put32(p, 40);
        Put32(p, width_);
        Put32(p, height_);  // positive: bottom-up, as the data comes
        Put16(p, 1);
        Put16(p, 24);
        Put32(p, 0);  // BI_RGB
        Put32(p, stride_ * height_);
        Put32(p, 2835);  // 72 dpi
        Put32(p, 2835);
        Put32(p, 0);
        Put32(p, 0);
        HRESULT hr = put(header, kBmpHeaderBytes);
        const uint8_t* pixels = values_[0].caub.pElems;
        if (SUCCEEDED(hr) && padded_) hr = put(pixels, stride_ * height_);
        const uint8_t zeros[4] = {};
        const uint32_t row = width_ * 3;
        for (uint32_t y = 0; SUCCEEDED(hr) && !padded_ && y < height_; ++y) {
            hr = put(pixels + y * row, row);
            if (SUCCEEDED(hr) && stride_ > row) hr = put(zeros, stride_ - row);
        }
        return hr;
    }

    IWiaItem* item_;
    mutable PropVariants<3> values_;
    uint32_t width_ = 0, height_ = 0, stride_ = 0;
    bool padded_ = false, read_ = false;
};

// Writes the file's data and its size through to the disk. Shared every way, so that an indexer
// or a virus scanner that has just opened the new file does not make the save fail.
HRESULT Flush(const WCHAR* path) {
    constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    File file(CreateFileW(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
    if (!FlushFileBuffers(file.get())) return HRESULT_FROM_WIN32(GetLastError());
    return file.Close();
}

}  // namespace

HRESULT RefuseFolder(IWiaItem* item) {
    LONG type = 0;
    const HRESULT hr = Retrying([&] { return item->GetItemType(&type); });
    if (hr != S_OK) return FAILED(hr) ? ServiceStatus(hr) : E_FAIL;
    return (type & wia::kItemTypeFolder) != 0 ? FOTEX_E_FOLDER : S_OK;
}

HRESULT DataFormat(IWiaItem* item, int code, GUID& format) {
    HRESULT hr = RefuseFolder(item);
    if (hr != S_OK) return hr;
    if (code != FOTEX_FORMAT_NATIVE) {
        format = *LookUpFormat(code).format;
        return S_OK;
    }
    ComPtr<IWiaPropertyStorage> storage;
    hr = QueryPropertyStorage(item, storage);
    if (FAILED(hr)) return ServiceStatus(hr);
    const PROPSPEC selector = PropSpecById(wia::kIpaPreferredFormat);
    PropVariants<1> value;
    hr = Retrying([&] { return value.ReadFrom(storage.get(), &selector); });
    if (FAILED(hr)) return ServiceStatus(hr);
    if (value[0].vt != VT_CLSID || value[0].puuid == nullptr) return FOTEX_E_NOT_FOUND;
    format = *value[0].puuid;
    return S_OK;
}

HRESULT GetItemDataIntoFile(IWiaItem* item, const GUID& format, WCHAR* path, TransferCallback* callback) {
    ComPtr<IWiaPropertyStorage> storage;
    HRESULT hr = QueryPropertyStorage(item, storage);
    if (FAILED(hr)) return ServiceStatus(hr);
    // The service refuses a value it does not take with E_INVALIDARG; the medium is always
    // the file, so a refusal is the format's.
    hr = WriteFileMedium(storage.get(), format);
    if (hr == E_INVALIDARG) return FOTEX_E_FORMAT;
    if (FAILED(hr)) return ServiceStatus(hr);
    ComPtr<IWiaDataTransfer> transfer;
    hr = QueryDataTransfer(item, transfer);
    if (hr != S_OK) return ServiceStatus(hr);
    hr = ServiceStatus(GetDataIntoFile(transfer.get(), path, false, callback));
    return callback != nullptr ? callback->Outcome(hr) : hr;
}

HRESULT MakeFileThroughTemporary(const wchar_t* fileName, bool replace, bool durable, FileMaker& maker) {
    FileNames names;
    HRESULT hr = names.Make(fileName);
    if (FAILED(hr)) return hr;
    // Found before the transfer, an existing file costs the camera nothing.
    if (!replace && GetFileAttributesW(names.target()) != INVALID_FILE_ATTRIBUTES)
        return FOTEX_E_FILE_EXISTS;

    hr = maker.Write(names.temporary());
    if (hr != S_OK) {
        DeleteFileW(names.temporary());
        return FAILED(hr) ? hr : E_FAIL;
    }
    if (durable) {
        hr = Flush(names.temporary());
        if (FAILED(hr)) {
            DeleteFileW(names.temporary());
            return hr;
        }
    }
    // The rename is the one step that makes the name appear, so a file that appeared meanwhile
    // is never replaced unless asked.
    const DWORD moveFlags = (replace ? MOVEFILE_REPLACE_EXISTING : 0) | (durable ? MOVEFILE_WRITE_THROUGH : 0);
    if (MoveFileExW(names.temporary(), names.target(), moveFlags)) return S_OK;
    const DWORD error = GetLastError();
    DeleteFileW(names.temporary());
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return FOTEX_E_FILE_EXISTS;
    return HRESULT_FROM_WIN32(error);
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL SaveCameraItemWithProgress(FOTEX_ITEM item, const wchar_t* fileName, int format, int flags,
                                                     FOTEX_PROGRESS progress, void* context) {
    if (item == 0) return FOTEX_E_HANDLE;
    if (fileName == nullptr) return FOTEX_E_POINTER;
    if ((flags & ~(FOTEX_SAVE_DELETE | FOTEX_SAVE_REPLACE)) != 0) return FOTEX_E_INVALIDARG;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    ForgetKeptRead(picture.get());
    GUID wanted;
    HRESULT hr = DataFormat(picture.get(), format, wanted);
    if (hr != S_OK) return FailureStatus(hr);
    // Without a routine the service gets no callback: nothing to report, nothing to cancel.
    HeldCallback callback(progress != nullptr ? TransferCallback::Create(progress, context) : nullptr);
    if (progress != nullptr && callback.get() == nullptr) return E_OUTOFMEMORY;

    // The camera's copy goes only once the file is on the disk: a power cut loses neither.
    const bool deleting = (flags & FOTEX_SAVE_DELETE) != 0;
    ItemMaker maker(picture.get(), wanted, callback.get());
    hr = MakeFileThroughTemporary(fileName, (flags & FOTEX_SAVE_REPLACE) != 0, deleting, maker);
    if (hr == S_OK && deleting) hr = ServiceStatus(Retrying([&] { return picture->DeleteItem(0); }));
    return SUCCEEDED(hr) ? FOTEX_OK : static_cast<int>(hr);
}

extern "C" int FOTEX_CALL SaveCameraItem(FOTEX_ITEM item, const wchar_t* fileName, int format, int flags) {
    return SaveCameraItemWithProgress(item, fileName, format, flags, nullptr, nullptr);
}

extern "C" int FOTEX_CALL SaveCameraThumbnail(FOTEX_ITEM item, const wchar_t* fileName, int flags) {
    if (item == 0) return FOTEX_E_HANDLE;
    if (fileName == nullptr) return FOTEX_E_POINTER;
    if ((flags & ~FOTEX_SAVE_REPLACE) != 0) return FOTEX_E_INVALIDARG;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    ForgetKeptRead(picture.get());
    HRESULT hr = RefuseFolder(picture.get());
    if (hr != S_OK) return static_cast<int>(hr);

    ThumbnailMaker maker(picture.get());
    hr = maker.Read();
    if (hr == S_OK) hr = MakeFileThroughTemporary(fileName, (flags & FOTEX_SAVE_REPLACE) != 0, false, maker);
    return hr == S_OK ? FOTEX_OK : FailureStatus(hr);
}

extern "C" int FOTEX_CALL ReadCameraThumbnail(FOTEX_ITEM item, void* buffer, int capacity, int* size) {
    if (item == 0) return FOTEX_E_HANDLE;
    HRESULT hr = CheckBuffer(buffer, capacity, size);
    if (hr != S_OK) return hr;
    const ComPtr<IWiaItem> picture = HoldHandle(item);
    ForgetKeptRead(picture.get());
    ThumbnailMaker maker(picture.get());
    hr = RefuseFolder(picture.get());
    if (hr == S_OK) hr = maker.Read();
    if (hr != S_OK) return FailureStatus(hr);
    *size = static_cast<int>(maker.bytes());  // 0x4000 squared pixels at most: within an int
    if (maker.bytes() > static_cast<uint32_t>(capacity)) return FOTEX_E_INSUFFICIENT_BUFFER;
    maker.CopyTo(static_cast<uint8_t*>(buffer));
    return FOTEX_OK;
}
