// Moving camera items into files: one item, or every image and video item of a device's tree.
#pragma once

#include <windows.h>
#include <wia.h>

#include <cstddef>

#include "com.h"

namespace fotex {

// ERROR_FILENAME_EXCED_RANGE as an HRESULT: the complete name exceeds 127 UTF-16 units.
constexpr HRESULT kNameTooLong = static_cast<HRESULT>(0x800700CE);

// ERROR_STACK_OVERFLOW ("recursion too deep") as an HRESULT: an item tree deeper than 64 levels.
constexpr HRESULT kTreeTooDeep = static_cast<HRESULT>(0x800703E9);

// The widened name the service receives: 127 units and the terminator.
constexpr size_t kWideNameUnits = 128;
// An ANSI code page spends at most three bytes on one UTF-16 unit (UTF-8), so a longer text
// cannot widen into 127 units.
constexpr size_t kMaxNameBytes = 3 * (kWideNameUnits - 1);

struct TransferFormat {
    const GUID* format;
    const char* extension;  // "" for the codes that keep the host's name as it is
};

// The format and extension of a transfer format code; JPEG without extension for unlisted codes.
TransferFormat LookUpFormat(int code);

// Widens the first `nameBytes` of `name`, then `extension`, with the ANSI code page;
// kNameTooLong when the result would not fit in 127 units. Neither text is changed.
HRESULT WidenCompleteName(const char* name, size_t nameBytes, const char* extension,
                          WCHAR (&wide)[kWideNameUnits]);

// What a transfer does with a file already at its name.
enum class Existing {
    Replace,    // the service's own behaviour: it writes over it
    StepAside,  // the first free name with "~1", "~2", ... before the extension; `name` then
                // needs room for eleven more characters
};

// Has the service write `item` into the file `name` + the code's extension, appending the
// extension to `name` in place (the buffer needs room for five more characters; a code without
// extension leaves it untouched). With deleteFlag 1 a transferred item is deleted from the
// camera. A free name is claimed with an empty file just before the service writes; a failed
// transfer removes the file only while it is still that one. Borrows the item.
HRESULT TransferItemToFile(IWiaItem* item, char* name, int code, int deleteFlag,
                           Existing existing = Existing::Replace);

// The service calls of a transfer into a file, in two steps so that the name can be settled
// last: the format and file medium written to the item's storage and its data-transfer interface
// obtained (S_OK only with one in `transfer`); then the data into `file`, a failure traced when
// `trace` is set (S_OK only when the file was written). Both borrow what they are given.
HRESULT PrepareFileTransfer(IWiaItem* item, IWiaPropertyStorage* storage, const GUID& format,
                            ComPtr<IWiaDataTransfer>& transfer);
// The two parts of the first step, for a caller that tells a refused format from the rest:
// the write of the format and file medium (the service's result), and the interface query.
HRESULT WriteFileMedium(IWiaPropertyStorage* storage, const GUID& format);
HRESULT QueryDataTransfer(IWiaItem* item, ComPtr<IWiaDataTransfer>& transfer);
HRESULT GetDataIntoFile(IWiaDataTransfer* transfer, WCHAR* file, bool trace);

// Receives the items of a walk, one call per item, with its type flags (0 when they could not
// be read) and the walk's result so far; returns the result the walk goes on with. Not pure: a
// pure virtual function would link the runtime's terminate handler into the DLL.
class ItemVisitor {
public:
    virtual HRESULT Visit(IWiaItem*, LONG, HRESULT current) { return current; }

protected:
    ~ItemVisitor() = default;
};

// The walk of TransferAllImages: depth first, an item before its children, folders and items
// with attachments walked into, at most 64 levels below `item` and 1,000,000 items a folder. Ends
// at the first result other than S_OK, which it returns (S_FALSE as S_OK). Its own failures are
// traced when `trace` is set. `depth` counts the levels below the walk's start.
HRESULT WalkItemTree(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth = 0);

// Transfers every image and video item at or below `item` into numbered files in `folder`,
// depth first, and stops at the first failure.
HRESULT TransferItemTree(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag);

}  // namespace fotex
