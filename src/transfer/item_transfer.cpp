// Item transfer to file: one item into one file, in the format the host chose.
#include <cstdio>
#include <cstring>

#include "busy.h"
#include "com.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"
#include "trace.h"
#include "transfer.h"

namespace fotex {

HRESULT WidenCompleteName(const char* name, size_t nameBytes, const char* extension,
                          WCHAR (&wide)[kWideNameUnits]) {
    const size_t extensionUnits = std::strlen(extension);
    if (nameBytes + extensionUnits > kMaxNameBytes) return kNameTooLong;
    // The name alone goes through the code page, without a copy joining it to the extension:
    // extensions are ASCII, one unit per byte in every ANSI code page.
    int units = 0;
    if (nameBytes > 0) {
        // With flags 0 the conversion fails only for want of room.
        units = MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(nameBytes), wide,
                                    static_cast<int>(kWideNameUnits - 1 - extensionUnits));
        if (units == 0) return kNameTooLong;
    }
    for (size_t i = 0; i <= extensionUnits; ++i) wide[units + i] = static_cast<unsigned char>(extension[i]);
    return S_OK;
}

namespace {

bool Exists(const WCHAR* name) { return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES; }

// A file's place on its volume: a file another program puts at the name has another.
struct Identity {
    DWORD volume = 0, high = 0, low = 0;
    bool known = false;
};

Identity IdentityOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info;
    Identity id;
    if (file == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(file, &info)) return id;
    id.volume = info.dwVolumeSerialNumber;
    id.high = info.nFileIndexHigh;
    id.low = info.nFileIndexLow;
    id.known = true;
    return id;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum class Claim { Made, Taken, Failed };

// Makes the file empty when no file holds the name, deciding "ours" in one step, and notes its
// identity. No data access and closed at once: the service opens the file as it likes.
Claim ClaimName(const WCHAR* name, Identity& claimed) {
    claimed = Identity();
    const File file(CreateFileW(name, FILE_READ_ATTRIBUTES, kShareAll, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Claim::Taken : Claim::Failed;
    }
    claimed = IdentityOf(file.get());
    return Claim::Made;
}

// Removes the file at `name` if it is still the one claimed; a file another program put there
// meanwhile stays. The check and the removal use one handle, so nothing can slip in between.
void RemoveClaimed(const WCHAR* name, const Identity& claimed) {
    if (!claimed.known) return;
    const File file(CreateFileW(name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    const Identity now = IdentityOf(file.get());
    if (!now.known || now.volume != claimed.volume || now.high != claimed.high || now.low != claimed.low) return;
    FILE_DISPOSITION_INFO dispose;
    dispose.DeleteFile = TRUE;
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

// Steps `name` (nameBytes long, `wide` its widened complete name) aside to the first complete
// name no file holds, writing "~n" and the extension after its first nameBytes, and claims it.
HRESULT FirstFreeName(char* name, size_t nameBytes, const char* extension, WCHAR (&wide)[kWideNameUnits],
                      Identity& claimed) {
    size_t length = nameBytes;
    // A name created by another program between the look and the claim counts as taken too.
    for (unsigned n = 1; Exists(wide) || ClaimName(wide, claimed) == Claim::Taken; ++n) {
        if (n == 0) return kNameTooLong;  // every number taken
        length = nameBytes + __ms_sprintf(name + nameBytes, "~%u", n);
        if (const HRESULT hr = WidenCompleteName(name, length, extension, wide); FAILED(hr)) return hr;
    }
    std::memcpy(name + length, extension, std::strlen(extension) + 1);
    return S_OK;
}

}  // namespace

HRESULT TransferItemToFile(IWiaItem* item, char* name, int code, int deleteFlag, Existing existing) {
    if (item == nullptr) return E_INVALIDARG;
    if (name == nullptr) return E_POINTER;

    const TransferFormat format = LookUpFormat(code);
    WCHAR wide[kWideNameUnits];
    const size_t nameBytes = std::strlen(name);
    HRESULT hr = WidenCompleteName(name, nameBytes, format.extension, wide);
    if (FAILED(hr)) {
        // Checked before anything changes: a cut name would land the data in another file.
        TraceHresult("File name too long", hr);
        return hr;
    }

    ComPtr<IWiaPropertyStorage> storage;
    hr = QueryPropertyStorage(item, storage);
    if (FAILED(hr)) {
        TraceHresult("pWiaItem->QueryInterface failed on IID_IWiaPropertyStorage", hr);
        return hr;
    }

    // A code without extension leaves the buffer alone: it may be read-only.
    if (format.extension[0] != 0) std::memcpy(name + nameBytes, format.extension, std::strlen(format.extension) + 1);

    ComPtr<IWiaDataTransfer> transfer;
    hr = PrepareFileTransfer(item, storage.get(), *format.format, transfer);
    if (hr != S_OK) return hr;

    // Settled last, just before the service writes. A free name is claimed: a transfer that
    // fails removes only the file it made, never one another program put there meanwhile; an
    // existing file is written in place and keeps whatever the service left.
    Identity claimed;
    if (existing == Existing::StepAside) {
        hr = FirstFreeName(name, nameBytes, format.extension, wide, claimed);
        if (FAILED(hr)) {
            TraceHresult("File name too long", hr);
            return hr;
        }
    } else {
        ClaimName(wide, claimed);
    }

    hr = GetDataIntoFile(transfer.get(), wide, true);
    if (hr != S_OK) RemoveClaimed(wide, claimed);
    if (hr == S_OK && deleteFlag == 1) Retrying([&] { return item->DeleteItem(0); });  // a picture left on the camera is no loss
    return hr;
}

}  // namespace fotex

using namespace fotex;

extern "C" void FOTEX_CALL TransferPicture(FOTEX_ITEM item, char* name, int code, int deleteFlag) {
    IWiaItem* picture = ItemFromHandle(item);
    if (picture == nullptr) return;
    TransferItemToFile(picture, name, code, deleteFlag);
    ReleaseHandle(picture);  // the handle is consumed whatever the outcome, with its item list
}
