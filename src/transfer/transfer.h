// Moving camera items into files: one item, or every image and video item of a device's tree.
#pragma once

#include <windows.h>
#include <wia.h>

#include <cstddef>

#include "item_data.h"
#include "text_units.h"

namespace fotex {

// The widened name the service receives: 127 units and the terminator.
constexpr size_t kWideNameUnits = kWideTextUnits;
// An ANSI code page spends at most three bytes on one UTF-16 unit (UTF-8), so a longer text
// cannot widen into 127 units.
constexpr size_t kMaxNameBytes = 3 * (kWideNameUnits - 1);

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

// Transfers every image and video item at or below `item` into numbered files in `folder`,
// depth first, and stops at the first failure.
HRESULT TransferItemTree(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag);

}  // namespace fotex
