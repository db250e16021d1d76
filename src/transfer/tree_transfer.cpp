// Whole-device transfer: every image and video item of the tree into numbered files in one folder.
#include <cstdio>
#include <cstring>

#include "com.h"
#include "conditions.h"
#include "fotex.h"
#include "handles.h"
#include "service.h"
#include "trace.h"
#include "transfer.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// Shared by all devices and calls; they restart only with the library.
int g_imageCounter = 0;
int g_videoCounter = 0;

// A name that may widen into 127 units in any code page, a "~n" of up to eleven characters, the
// longest extension and the terminator.
constexpr size_t kWalkNameBytes = kMaxNameBytes + 32;

// The counter's number, taken before the transfer: a walk run from a handler inside that
// transfer numbers on from the next one, and no number is handed out twice.
int Take(int& counter) {
    const int number = counter;
    counter = static_cast<int>(static_cast<unsigned>(counter) + 1u);
    return number;
}

// Transfers one item under folder\prefix and the blank-padded number. A file already there (from
// an earlier call, an item of the other kind with the same number, or another program) is kept:
// the item goes to the first free name with "~1", "~2", ... before the extension.
HRESULT TransferNumbered(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag,
                         int number) {
    if (std::strlen(folder) + 1 + std::strlen(prefix) > kMaxNameBytes) {
        TraceHresult("File name too long", kNameTooLong);
        return kNameTooLong;
    }
    char name[kWalkNameBytes];
    __ms_sprintf(name, "%s\\%s%8d", folder, prefix, number);
    return TransferItemToFile(item, name, code, deleteFlag, Existing::StepAside);
}

// Transfers each image and video item under the walk's names; the last transfer's result is
// the item's.
class TransferVisitor final : public ItemVisitor {
public:
    TransferVisitor(const char* folder, const char* prefix, int code, int deleteFlag)
        : folder_(folder), prefix_(prefix), code_(code), deleteFlag_(deleteFlag) {}

    HRESULT Visit(IWiaItem* item, LONG type, HRESULT current) override {
        if (type & wia::kItemTypeImage)
            current = TransferNumbered(item, folder_, prefix_, code_, deleteFlag_, Take(g_imageCounter));
        if (type & wia::kItemTypeVideo)
            current = TransferNumbered(item, folder_, prefix_, code_, deleteFlag_, Take(g_videoCounter));
        return current;
    }

private:
    const char* folder_;
    const char* prefix_;
    int code_, deleteFlag_;
};

}  // namespace

HRESULT TransferItemTree(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag) {
    if (folder == nullptr || prefix == nullptr) return E_POINTER;
    TransferVisitor visitor(folder, prefix, code, deleteFlag);
    return WalkItemTree(item, visitor, true);
}

}  // namespace fotex

using namespace fotex;

extern "C" void FOTEX_CALL TransferAllImages(FOTEX_DEVICE device, const char* folder, const char* prefix, int code,
                                             int deleteFlag) {
    if (device == 0) return;
    // Held for the walk: a handler inside it may close the device. A camera that went away
    // part-way ends the walk: walking again would save the pictures saved before once more under
    // new numbers. Reconnecting serves the calls after it.
    const ComPtr<IWiaItem> self = HoldHandle(device);  // its entry's key, for the Reconnect
    const ComPtr<IWiaItem> replacement = HoldReplacement(device);
    DeviceGoneMark mark;
    TransferItemTree(replacement ? replacement.get() : self.get(), folder, prefix, code, deleteFlag);
    if (mark.Gone()) Reconnect(device);
}
