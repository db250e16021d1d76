// Camera contents: the per-device item lists, saving through a temporary file, thumbnails as
// BMP files and status texts.
#pragma once

#include <windows.h>
#include <wia.h>

#include <cstdint>

#include "fotex.h"

namespace fotex {

// ERROR_INVALID_DATA: a thumbnail shorter than its width and height need.
constexpr HRESULT kInvalidData = static_cast<HRESULT>(0x8007000D);
// ERROR_ARITHMETIC_OVERFLOW: a value beyond what an int holds.
constexpr HRESULT kOverflow = static_cast<HRESULT>(0x80070216);

// One listed item: a reference of the list's own and the type flags the walk saw.
struct ListedItem {
    IWiaItem* item;
    LONG type;
};

// The items listed for one device handle, in walk order. A new listing is made beside the
// current one and replaces it only when complete: while it is made, the old list still holds the
// items, so the service hands out the objects it already has instead of making them anew. The
// two arrays only grow while the handle lives, so listing a device again allocates nothing.
class ItemList {
public:
    IWiaItem* device = nullptr;

    uint32_t count() const { return current_.count; }
    const ListedItem& at(uint32_t index) const { return current_.items[index]; }

    // Appends to the listing being made, with a reference of its own; false when storage cannot
    // be had (nothing changes then).
    bool Append(IWiaItem* item, LONG type);
    // Ends the listing being made: on success it becomes the list; otherwise both go empty.
    void Finish(bool complete);
    // Releases every item; the storage stays for the next listing.
    void Empty();
    // Releases every item and the storage.
    void Free();
    // Frees the storage without releasing the items, for when their service is gone.
    void Forget();

private:
    struct Records {
        ListedItem* items = nullptr;
        uint32_t count = 0;
        uint32_t capacity = 0;
        void Release();
    };
    Records current_, next_;
};

// The lists of all device handles, keyed by the handle: a host has a few devices open at most,
// so a short array searched in order serves.
class ItemLists {
public:
    constexpr ItemLists() = default;
    ItemLists(const ItemLists&) = delete;
    ItemLists& operator=(const ItemLists&) = delete;
    // Frees storage only: at process end the items' service may be gone, so no reference is
    // released here (ReleaseAll does that while COM lives).
    ~ItemLists();

    ItemList* Find(IWiaItem* device);
    // The device's list, made empty when new; null when storage cannot be had.
    ItemList* Obtain(IWiaItem* device);
    // Releases the device's list, if it has one.
    void Drop(IWiaItem* device);
    void ReleaseAll();

private:
    ItemList* lists_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
};

ItemLists& Lists();

// The negative HRESULT a status reports for `hr`: a success other than S_OK is no success here.
inline int FailureStatus(HRESULT hr) { return FAILED(hr) ? static_cast<int>(hr) : static_cast<int>(E_FAIL); }

// Copies up to three pieces of text, then a terminator, into the caller's buffer of `bytes`
// bytes; nothing is written when they do not fit.
struct TextPiece {
    const WCHAR* text;
    uint32_t units;
};
int PutText(void* out, int bytes, const TextPiece* pieces, int count);

// Makes a file through `write`, which fills the temporary file it is given, and moves it to
// `fileName` only when complete. Never replaces an existing file unless `replace`.
class FileMaker {
public:
    virtual HRESULT Write(WCHAR*) { return E_NOTIMPL; }  // not pure: see ItemVisitor

protected:
    ~FileMaker() = default;
};
HRESULT MakeFileThroughTemporary(const wchar_t* fileName, bool replace, FileMaker& maker);

}  // namespace fotex
