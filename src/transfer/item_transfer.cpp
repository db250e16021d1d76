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

// A file's place on its volume: a file another program puts at the name has another.
struct Identity {
    ULONGLONG volume = 0;
    FILE_ID_128 id = {};
    bool known = false;
};

bool operator==(const Identity& a, const Identity& b) {
    return a.known && b.known && a.volume == b.volume && std::memcmp(&a.id, &b.id, sizeof a.id) == 0;
}

// The file id query first: under Wine the full information also asks for the volume's details
// in another process, about four times as long (milliseconds a file on a loaded machine). The
// full information answers on Windows before 8, which lacks the query.
Identity IdentityOf(HANDLE file) {
    Identity id;
    if (file == INVALID_HANDLE_VALUE) return id;
    FILE_ID_INFO info;
    if (GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info)) {
        id.volume = info.VolumeSerialNumber;
        id.id = info.FileId;
        id.known = true;
        return id;
    }
    BY_HANDLE_FILE_INFORMATION full;
    if (!GetFileInformationByHandle(file, &full)) return id;
    id.volume = full.dwVolumeSerialNumber;
    const DWORD index[2] = {full.nFileIndexLow, full.nFileIndexHigh};
    std::memcpy(id.id.Identifier, index, sizeof index);
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

bool Taken(Claim claim, const WCHAR* name) {
    return claim == Claim::Taken || (claim == Claim::Failed && GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES);
}

// Removes the file at `name` if it is still the one claimed; a file another program put there
// meanwhile stays. The check and the removal use one handle, so nothing can slip in between.
void RemoveClaimed(const WCHAR* name, const Identity& claimed) {
    if (!claimed.known) return;
    const File file(CreateFileW(name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!(IdentityOf(file.get()) == claimed)) return;
    FILE_DISPOSITION_INFO dispose;
    dispose.DeleteFile = TRUE;
    SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose, sizeof dispose);
}

// Steps `name` (nameBytes long, `wide` its widened complete name) aside to the first complete
// name no file holds, writing "~n" and the extension after its first nameBytes, and claims it.
HRESULT FirstFreeName(char* name, size_t nameBytes, const char* extension, WCHAR (&wide)[kWideNameUnits],
                      Identity& claimed) {
    size_t length = nameBytes;
    // The claim is the look: one call decides, cheaper than asking for the attributes first. A
    // claim that fails for another reason (a folder of that name, say) still steps aside from
    // whatever holds the name.
    for (unsigned n = 1; Taken(ClaimName(wide, claimed), wide); ++n) {
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
