// Item transfer to file: one item into one file, in the format the host chose.
#include <cstdio>
#include <cstring>

#include "com.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"
#include "trace.h"
#include "transfer.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// Indexed by the codes 0 to 15; the two video codes follow separately.
const TransferFormat kImageFormats[] = {
    {&wia::WiaImgFmt_BMP, ".bmp"},      {&wia::WiaImgFmt_EMF, ".emf"},      {&wia::WiaImgFmt_WMF, ".wmf"},
    {&wia::WiaImgFmt_JPEG, ".jpg"},     {&wia::WiaImgFmt_PNG, ".png"},      {&wia::WiaImgFmt_GIF, ".gif"},
    {&wia::WiaImgFmt_TIFF, ".tiff"},    {&wia::WiaImgFmt_EXIF, ".exif"},    {&wia::WiaImgFmt_PHOTOCD, ".pcd"},
    {&wia::WiaImgFmt_FLASHPIX, ".fpix"}, {&wia::WiaImgFmt_ICO, ".ico"},     {&wia::WiaImgFmt_CIFF, ".ciff"},
    {&wia::WiaImgFmt_PICT, ".pict"},    {&wia::WiaImgFmt_JPEG2K, ".jpg"},   {&wia::WiaImgFmt_JPEG2KX, ".jpg"},
    {&wia::WiaImgFmt_RAWRGB, ".raw"},
};
constexpr unsigned kFirstVideoCode = 128;
const TransferFormat kVideoFormats[] = {{&wia::WiaImgFmt_AVI, ".avi"}, {&wia::WiaImgFmt_MPG, ".mpg"}};
const TransferFormat kDefaultFormat = {&wia::WiaImgFmt_JPEG, ""};

}  // namespace

TransferFormat LookUpFormat(int code) {
    const unsigned value = static_cast<unsigned>(code);
    if (value < sizeof kImageFormats / sizeof kImageFormats[0]) return kImageFormats[value];
    if (value - kFirstVideoCode < sizeof kVideoFormats / sizeof kVideoFormats[0])
        return kVideoFormats[value - kFirstVideoCode];
    return kDefaultFormat;
}

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

// Steps `name` (nameBytes long, `wide` its widened complete name) aside to the first complete
// name no file holds, writing "~n" and the extension after its first nameBytes.
HRESULT FirstFreeName(char* name, size_t nameBytes, const char* extension, WCHAR (&wide)[kWideNameUnits]) {
    size_t length = nameBytes;
    for (unsigned n = 1; Exists(wide); ++n) {
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

    // Checked last, just before the service writes: the window in which another program can
    // still create the file is as short as the service allows.
    if (existing == Existing::StepAside) {
        hr = FirstFreeName(name, nameBytes, format.extension, wide);
        if (FAILED(hr)) {
            TraceHresult("File name too long", hr);
            return hr;
        }
    }

    // A transfer that fails part-way leaves what the service wrote; only a file it made is removed.
    const bool existed = Exists(wide);
    hr = GetDataIntoFile(transfer.get(), wide, true);
    if (hr != S_OK && !existed) DeleteFileW(wide);
    if (hr == S_OK && deleteFlag == 1) item->DeleteItem(0);  // a picture left on the camera is no loss
    return hr;
}

HRESULT PrepareFileTransfer(IWiaItem* item, IWiaPropertyStorage* storage, const GUID& format,
                            ComPtr<IWiaDataTransfer>& transfer) {
    const HRESULT hr = WriteFileMedium(storage, format);
    if (FAILED(hr)) return hr;
    return QueryDataTransfer(item, transfer);
}

HRESULT WriteFileMedium(IWiaPropertyStorage* storage, const GUID& format) {
    // Plain records, not owners: the GUID they point to lives on this stack, not in CoTaskMem.
    GUID formatId = format;
    const PROPSPEC specs[2] = {PropSpecById(wia::kIpaFormat), PropSpecById(wia::kIpaTymed)};
    PROPVARIANT values[2];
    std::memset(values, 0, sizeof values);
    values[0].vt = VT_CLSID;
    values[0].puuid = &formatId;
    values[1].vt = VT_I4;
    values[1].lVal = TYMED_FILE;
    return storage->WriteMultiple(2, specs, values, wia::kIpaFirst);
}

HRESULT QueryDataTransfer(IWiaItem* item, ComPtr<IWiaDataTransfer>& transfer) {
    const HRESULT hr = item->QueryInterface(wia::IID_IWiaDataTransfer, transfer.put_void());
    if (FAILED(hr)) transfer.detach();
    if (hr != S_OK) return hr;
    return transfer ? S_OK : E_NOINTERFACE;
}

HRESULT GetDataIntoFile(IWiaDataTransfer* transfer, WCHAR* file, bool trace) {
    // The file medium is asked for through WIA_IPA_TYMED; the record itself stays TYMED_NULL.
    STGMEDIUM medium;
    std::memset(&medium, 0, sizeof medium);
    medium.tymed = TYMED_NULL;
    medium.lpszFileName = file;
    medium.pUnkForRelease = nullptr;
    const HRESULT hr = transfer->idtGetData(&medium, nullptr);
    if (hr != S_OK && trace) TraceHresult("pWiaDataTransfer->idtGetData failed", hr);
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
