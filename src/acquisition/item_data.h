// A camera item's way to a file: the format table, the service calls that move an item's data
// into a file, and the walk over an item tree.
#pragma once

#include <windows.h>
#include <wia.h>

#include "com.h"
#include "fotex.h"

namespace fotex {

// ERROR_FILENAME_EXCED_RANGE as an HRESULT: the complete name exceeds 127 UTF-16 units.
constexpr HRESULT kNameTooLong = static_cast<HRESULT>(0x800700CE);

struct TransferFormat {
    const GUID* format;
    const char* extension;  // "" for the codes that keep the host's name as it is
};

// The format and extension of a transfer format code; JPEG without extension for unlisted codes.
TransferFormat LookUpFormat(int code);

// The service calls of a transfer into a file, in two steps so that the name can be settled
// last: the format and file medium written to the item's storage and its data-transfer interface
// obtained (S_OK only with one in `transfer`); then the data into `file`, a failure traced when
// `trace` is set (S_OK only when the file was written). Both borrow what they are given.
HRESULT PrepareFileTransfer(IWiaItem* item, IWiaPropertyStorage* storage, const GUID& format,
                            ComPtr<IWiaDataTransfer>& transfer);
// The two parts of the first step, for a caller that tells a refused format from the rest:
// the write of the format and file medium (the service's result), and the interface query.
HRESULT WriteFileMedium(IWiaPropertyStorage* storage, const GUID& format);
// The same write with any medium (TYMED_CALLBACK for a transfer into memory).
HRESULT WriteFormatAndMedium(IWiaPropertyStorage* storage, const GUID& format, LONG tymed);
HRESULT QueryDataTransfer(IWiaItem* item, ComPtr<IWiaDataTransfer>& transfer);
// `callback`, when not null, receives the service's progress reports.
HRESULT GetDataIntoFile(IWiaDataTransfer* transfer, WCHAR* file, bool trace, IWiaDataCallback* callback = nullptr);

// Receives the items of a walk, one call per item, with its type flags (0 when they could not
// be read) and the walk's result so far; returns the result the walk goes on with. Not pure: a
// pure virtual function would link the runtime's terminate handler into the DLL.
class ItemVisitor {
public:
    // The item's type flags, asked before its visit (again while the camera is busy, within the
    // busy wait); a visitor that reads more of the item at once may answer from that read, each
    // of its calls waiting out a busy camera once.
    virtual HRESULT TypeOf(IWiaItem* item, LONG& type);
    virtual HRESULT Visit(IWiaItem*, LONG, HRESULT current) { return current; }
    // What the walk reports for a failed service call (after tracing it as it came).
    virtual HRESULT ServiceFailure(HRESULT hr) { return hr; }

protected:
    ~ItemVisitor() = default;
};

// The walk of TransferAllImages: depth first, an item before its children, folders and items
// with attachments walked into, at most 64 levels below `item` and 1,000,000 items a folder. Ends
// at the first result other than S_OK, which it returns (S_FALSE as S_OK). Its own failures are
// traced when `trace` is set. `depth` counts the levels below the walk's start.
HRESULT WalkItemTree(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth = 0);
// The same walk asking each folder's enumerator for up to kWalkBatch items a call (the end comes
// as S_FALSE with fewer), for a listing: out of process every call is a round trip.
constexpr ULONG kWalkBatch = 32;
HRESULT WalkItemTreeInBatches(IWiaItem* item, ItemVisitor& visitor);

}  // namespace fotex
