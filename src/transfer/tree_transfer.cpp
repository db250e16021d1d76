// Whole-device transfer: every image and video item of the tree into numbered files in one folder.
#include <cstdio>
#include <cstring>

#include "com.h"
#include "fotex.h"
#include "service.h"
#include "trace.h"
#include "transfer.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// Shared by all devices and calls; they restart only with the library.
int g_imageCounter = 0;
int g_videoCounter = 0;

// Far beyond any real camera; a faulty device may present a tree without end.
constexpr int kMaxDepth = 64;
// Far beyond any real folder (hosts list 100,000 items flat); a faulty enumerator that never
// reports the end would otherwise keep the walk transferring forever.
constexpr unsigned long kMaxSiblings = 1000000;
// E_BOUNDS: more items than one folder may hold.
constexpr HRESULT kTooManyItems = static_cast<HRESULT>(0x8000000B);

// A name that may widen into 127 units in any code page, a "~n" of up to eleven characters, the
// longest extension and the terminator.
constexpr size_t kWalkNameBytes = kMaxNameBytes + 32;

bool Exists(const WCHAR* name) { return GetFileAttributesW(name) != INVALID_FILE_ATTRIBUTES; }

// Asking the file system for every name costs far more than the service's own calls. When the
// folder held no name starting with the prefix as the walk began, a name can only be taken by an
// item of the other kind numbered in this walk, and only those are checked.
struct Walk {
    bool fresh = false;
    int imageStart = 0, videoStart = 0;
};
Walk g_walk;

bool InRange(int number, int start, int end) {
    return static_cast<unsigned>(number) - static_cast<unsigned>(start) <
           static_cast<unsigned>(end) - static_cast<unsigned>(start);
}

bool MayBeTaken(int number, bool video) {
    if (!g_walk.fresh) return true;
    return video ? InRange(number, g_walk.imageStart, g_imageCounter)
                 : InRange(number, g_walk.videoStart, g_videoCounter);
}

// True when no file in `folder` has a name starting with `prefix`.
bool FolderFreeOfPrefix(const char* folder, const char* prefix) {
    char pattern[kWalkNameBytes];
    if (std::strlen(folder) + 1 + std::strlen(prefix) > kMaxNameBytes) return false;
    const int length = __ms_sprintf(pattern, "%s\\%s", folder, prefix);
    WCHAR wide[kWideNameUnits];
    if (FAILED(WidenCompleteName(pattern, length, "*", wide))) return false;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(wide, &found);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
        return false;
    }
    return GetLastError() == ERROR_FILE_NOT_FOUND;
}

void Advance(int& counter) { counter = static_cast<int>(static_cast<unsigned>(counter) + 1u); }

// Transfers one item under folder\prefix and the blank-padded number. An image and a video of
// equal numbers, or a later call, may reach a name the walk already wrote: such a file is kept
// and the item goes to the first free name with "~1", "~2", ... before the extension.
HRESULT TransferNumbered(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag,
                         int number, bool video) {
    if (std::strlen(folder) + 1 + std::strlen(prefix) > kMaxNameBytes) {
        TraceHresult("File name too long", kNameTooLong);
        return kNameTooLong;
    }
    char name[kWalkNameBytes];
    const int base = __ms_sprintf(name, "%s\\%s%8d", folder, prefix, number);
    const char* extension = LookUpFormat(code).extension;
    WCHAR wide[kWideNameUnits];
    // A name too long to widen goes on as it is: the transfer reports it.
    int length = base;
    for (unsigned n = 1; n != 0 && MayBeTaken(number, video) &&
                         SUCCEEDED(WidenCompleteName(name, length, extension, wide)) && Exists(wide);
         ++n)
        length = base + __ms_sprintf(name + base, "~%u", n);
    return TransferItemToFile(item, name, code, deleteFlag);
}

// Transfers each image and video item under the walk's names; the last transfer's result is
// the item's.
class TransferVisitor final : public ItemVisitor {
public:
    TransferVisitor(const char* folder, const char* prefix, int code, int deleteFlag)
        : folder_(folder), prefix_(prefix), code_(code), deleteFlag_(deleteFlag) {}

    HRESULT Visit(IWiaItem* item, LONG type, HRESULT current) override {
        if (type & wia::kItemTypeImage) {
            current = TransferNumbered(item, folder_, prefix_, code_, deleteFlag_, g_imageCounter, false);
            Advance(g_imageCounter);
        }
        if (type & wia::kItemTypeVideo) {
            current = TransferNumbered(item, folder_, prefix_, code_, deleteFlag_, g_videoCounter, true);
            Advance(g_videoCounter);
        }
        return current;
    }

private:
    const char* folder_;
    const char* prefix_;
    int code_, deleteFlag_;
};

}  // namespace

// Kept out of line: inlined with its visitor, the recursion unrolls into kilobytes of copies.
[[gnu::noinline]] HRESULT WalkItemTree(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth) {
    if (item == nullptr) return E_INVALIDARG;
    if (depth > kMaxDepth) {
        if (trace) TraceHresult("Item tree too deep", kTreeTooDeep);
        return kTreeTooDeep;
    }

    LONG type = 0;
    HRESULT hr = item->GetItemType(&type);
    if (FAILED(hr)) type = 0;  // a failed read is no type: the item is neither visited nor walked

    hr = visitor.Visit(item, type, hr);
    if ((type & (wia::kItemTypeFolder | wia::kItemTypeHasAttachments)) == 0) return hr;

    ComPtr<IEnumWiaItem> children;
    hr = item->EnumChildItems(children.put());
    if (FAILED(hr)) {
        children.detach();
        return hr;
    }
    if (hr == S_OK && !children) return E_POINTER;

    unsigned long fetched = 0;
    while (hr == S_OK) {
        ComPtr<IWiaItem> child;
        hr = children->Next(1, child.put(), nullptr);
        if (hr == S_OK && ++fetched > kMaxSiblings) {
            if (trace) TraceHresult("Too many items in one folder", kTooManyItems);
            return kTooManyItems;
        }
        if (hr == S_OK) {
            hr = WalkItemTree(child.get(), visitor, trace, depth + 1);
        } else {
            child.detach();  // nothing was fetched, whatever the pointer holds
            if (FAILED(hr) && trace) TraceHresult("Error calling pEnumWiaItem->Next", hr);
        }
    }
    return hr == S_FALSE ? S_OK : hr;
}

HRESULT TransferItemTree(IWiaItem* item, const char* folder, const char* prefix, int code, int deleteFlag) {
    if (folder == nullptr || prefix == nullptr) return E_POINTER;
    TransferVisitor visitor(folder, prefix, code, deleteFlag);
    return WalkItemTree(item, visitor, true);
}

}  // namespace fotex

using namespace fotex;

extern "C" void FOTEX_CALL TransferAllImages(FOTEX_DEVICE device, const char* folder, const char* prefix, int code,
                                             int deleteFlag) {
    IWiaItem* root = ItemFromHandle(device);
    if (root == nullptr) return;
    if (folder != nullptr && prefix != nullptr) {
        g_walk.fresh = FolderFreeOfPrefix(folder, prefix);
        g_walk.imageStart = g_imageCounter;
        g_walk.videoStart = g_videoCounter;
    }
    TransferItemTree(root, folder, prefix, code, deleteFlag);
    g_walk.fresh = false;
}
