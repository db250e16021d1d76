// Item data: the format table and the service calls that move an item's data into a file.
#include "item_data.h"

#include <cstring>

#include "busy.h"
#include "service.h"
#include "trace.h"
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

HRESULT PrepareFileTransfer(IWiaItem* item, IWiaPropertyStorage* storage, const GUID& format,
                            ComPtr<IWiaDataTransfer>& transfer) {
    const HRESULT hr = WriteFileMedium(storage, format);
    if (FAILED(hr)) return hr;
    return QueryDataTransfer(item, transfer);
}

HRESULT WriteFileMedium(IWiaPropertyStorage* storage, const GUID& format) {
    return WriteFormatAndMedium(storage, format, TYMED_FILE);
}

HRESULT WriteFormatAndMedium(IWiaPropertyStorage* storage, const GUID& format, LONG tymed) {
    // Plain records, not owners: the GUID they point to lives on this stack, not in CoTaskMem.
    GUID formatId = format;
    const PROPSPEC specs[2] = {PropSpecById(wia::kIpaFormat), PropSpecById(wia::kIpaTymed)};
    PROPVARIANT values[2];
    std::memset(values, 0, sizeof values);
    values[0].vt = VT_CLSID;
    values[0].puuid = &formatId;
    values[1].vt = VT_I4;
    values[1].lVal = tymed;
    return Retrying([&] { return storage->WriteMultiple(2, specs, values, wia::kIpaFirst); });
}

HRESULT QueryDataTransfer(IWiaItem* item, ComPtr<IWiaDataTransfer>& transfer) {
    const HRESULT hr =
        Retrying([&] { return transfer.receive(item->QueryInterface(wia::IID_IWiaDataTransfer, transfer.put_void())); });
    if (hr != S_OK) return hr;
    return transfer ? S_OK : E_NOINTERFACE;
}

HRESULT GetDataIntoFile(IWiaDataTransfer* transfer, WCHAR* file, bool trace, IWiaDataCallback* callback) {
    // The record names the file medium as WIA_IPA_TYMED does: across processes only a TYMED_FILE
    // record carries the file name to the service (a TYMED_NULL one goes as its type alone).
    STGMEDIUM medium;
    std::memset(&medium, 0, sizeof medium);
    medium.tymed = TYMED_FILE;
    medium.lpszFileName = file;
    medium.pUnkForRelease = nullptr;
    const HRESULT hr = Retrying([&] { return transfer->idtGetData(&medium, callback); });
    if (hr != S_OK && trace) TraceHresult("pWiaDataTransfer->idtGetData failed", hr);
    return hr;
}

}  // namespace fotex
