// Camera contents: the per-device item lists, saving through a temporary file, thumbnails as
// BMP files and status texts.
#pragma once

#include <windows.h>
#include <wia.h>

#include <cstdint>

#include "fotex.h"
#include "text_units.h"

namespace fotex {

// The facts of a listed item as the listing read them, so that reading them costs no call. The
// texts are in the list's pool: the name, the file name extension, then the full name.
struct ListedFacts {
    enum : uint8_t { kName = 1, kFullName = 2, kTime = 4 };  // the texts the item has
    enum { kSize, kThumbWidth, kThumbHeight, kFormat, kNumbers };
    uint8_t texts;
    uint16_t time[6];  // year, month, day, hour, minute, second
    uint32_t text;     // where the item's texts begin in the pool
    uint32_t nameUnits, extensionUnits, fullNameUnits;
    int32_t numbers[kNumbers];
    HRESULT numberStatus[kNumbers];  // S_OK, FOTEX_E_NOT_FOUND or FOTEX_E_OVERFLOW, as a read gives
};

// One listed item: a reference of the list's own, the type flags the walk saw, and its facts
// when the listing could read them (otherwise they are read from the camera when asked).
struct ListedItem {
    IWiaItem* item;
    LONG type;
    bool known;
    ListedFacts facts;
};

// Listed items in walk order, each with a reference of its own, and the pool of their texts:
// plain storage, handed from owner to owner by copying its fields.
struct ListedItems {
    ListedItem* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    WCHAR* text = nullptr;
    uint32_t textUnits = 0;
    uint32_t textCapacity = 0;

    // Appends with a reference of its own and no facts; false when storage cannot be had
    // (nothing changes).
    bool Append(IWiaItem* item, LONG type);
    // The same with the facts, `facts.text` set here; `texts` are the name, the extension and
    // the full name, of the lengths `facts` gives.
    bool Append(IWiaItem* item, LONG type, ListedFacts facts, const WCHAR* const (&texts)[3]);
    // Releases every item; the storage stays for the next listing.
    void Release();
    // Releases every item and frees the storage.
    void Free();
    // Frees the storage of a list that holds no item.
    void FreeStorage();
};

// What ListNewCameraItems took as seen on a handle: each item with a reference of its own, so
// that its object, and with it the pointer, stays its; and the facts that make it the same item.
struct SeenItem {
    IWiaItem* item;
    WCHAR* name;  // the full name, NUL-terminated, owned; never null
    uint32_t hash;
    LONG type;  // as first read: an item stays the kind it was, so a later look does not ask again
    LONGLONG size;
    uint16_t time[8];
};
struct SeenItems {
    SeenItem* items = nullptr;
    uint32_t count = 0;
    uint32_t capacity = 0;
    // Open addressing by item pointer: each slot the index of an item, or UINT32_MAX; a power of
    // two, at least twice the items.
    uint32_t* slots = nullptr;
    uint32_t slotCount = 0;
    bool taken = false;  // the handle's first call (or a reset) has been made

    // Releases every item and frees the storage.
    void Free();
};

// The item lists of the handles, keyed by the handle's object; a host has a few handles listed
// at most, so a short array searched in order serves. A listing is made aside, in storage taken
// from its handle's entry, and published when complete: a call from a handler inside it (a
// read, another listing, a close) never finds the table pointing into the list being made. A
// pointer into the table is never kept across a service call: a listing of another handle may
// move the table. Each handle's two arrays only grow, so listing it again allocates nothing.
class ItemLists {
public:
    constexpr ItemLists() = default;
    ItemLists(const ItemLists&) = delete;
    ItemLists& operator=(const ItemLists&) = delete;
    // Frees storage only: at process end the items' service may be gone, so no reference is
    // released here (ReleaseAll does that while COM lives).
    ~ItemLists();

    // The handle's list, or null; valid until the next service call.
    const ListedItems* Find(IWiaItem* key) const;
    // Starts a listing for `key`: makes its entry when it has none, and hands out the entry's
    // spare storage, empty, in `building` (which holds none) and the entry's serial in
    // `serial`. False when storage cannot be had; nothing changes then.
    bool Begin(IWiaItem* key, ListedItems& building, uint32_t& serial);
    // Ends a listing: `built` becomes the list of the entry that Begin numbered `serial`, and the
    // list it replaces is released. When that entry is gone (the handle was given back
    // meanwhile), `built` is released instead. `built` is left without storage.
    void Publish(IWiaItem* key, uint32_t serial, ListedItems& built);
    // Ends a listing that failed: the entry keeps its list, and `unused` (released) its storage.
    void Abandon(IWiaItem* key, uint32_t serial, ListedItems& unused);
    // Hands the seen items of the entry numbered `serial` to one call at a time: FOTEX_E_BUSY
    // while another call has them, FOTEX_E_HANDLE when the entry is gone. PutSeen gives them
    // (or their successor) back; when the entry is gone by then they are freed.
    HRESULT TakeSeen(IWiaItem* key, uint32_t serial, SeenItems& seen);
    void PutSeen(IWiaItem* key, uint32_t serial, SeenItems& seen);
    // Releases the handle's list, if it has one, and forgets its entry.
    void Drop(IWiaItem* key);
    // At unload, under the loader lock: forgets every list, releasing the items of this process
    // and leaving proxies (see ReleaseUnlessProxy). True when it left one.
    bool ReleaseAll();

private:
    struct Entry {
        IWiaItem* key;
        uint32_t serial;  // tells this handle's entry from a later one with the same key
        ListedItems current;
        ListedItems spare;  // storage only, for the next listing
        SeenItems seen;
        bool seenOut;  // a call of ListNewCameraItems holds `seen`
    };
    Entry* Locate(IWiaItem* key) const;

    Entry* entries_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    uint32_t serials_ = 0;
};

ItemLists& Lists();

// The negative HRESULT a status reports for `hr`: a success other than S_OK is no success here.
inline int FailureStatus(HRESULT hr) { return FAILED(hr) ? static_cast<int>(hr) : static_cast<int>(E_FAIL); }

// Makes a file through `maker`, which fills the temporary file it is given, and moves it to
// `fileName` only when complete. Never replaces an existing file unless `replace`.
// Lists every image and video item under `root` into `list`, in the walk of TransferAllImages.
HRESULT ListInto(IWiaItem* root, ListedItems& list);

class FileMaker {
public:
    virtual HRESULT Write(WCHAR*) { return E_NOTIMPL; }  // not pure: see ItemVisitor

protected:
    ~FileMaker() = default;
};
class TransferCallback;

// Drops the data ReadCameraItem keeps for the item's next read, if any: every other call for
// the item and the release of its handle end its use.
void ForgetKeptRead(IWiaItem* item);
// What the room keeps for a handle, dropped when the handle is given back (SetHandleForgetter).
void ForgetHandle(IWiaItem* item);

// FOTEX_E_FOLDER for a folder, which has no data; S_OK for any other item.
HRESULT RefuseFolder(IWiaItem* item);
// For an item with data, the GUID of a transfer format code: the table's, or for
// FOTEX_FORMAT_NATIVE the item's preferred format (FOTEX_E_NOT_FOUND when it names none).
// S_OK, or a failure: FOTEX_E_FOLDER for a folder.
HRESULT DataFormat(IWiaItem* item, int code, GUID& format);

// The checks of a function that fills the host's buffer: S_OK, or the status that refuses it.
inline HRESULT CheckBuffer(const void* buffer, int capacity, const int* size) {
    if (size == nullptr || (buffer == nullptr && capacity > 0)) return FOTEX_E_POINTER;
    return capacity < 0 ? FOTEX_E_INVALIDARG : S_OK;
}
// Has the service write the item's data in `format` into the file `path`, reporting to
// `callback` when there is one. FOTEX_E_FORMAT when the item refuses the format,
// FOTEX_E_CANCELLED when the host cancelled.
HRESULT GetItemDataIntoFile(IWiaItem* item, const GUID& format, WCHAR* path, TransferCallback* callback);

// With `durable`, the file is flushed to disk and moved with write-through before the call
// returns, so that whatever the caller does next (deleting the camera's copy) comes after it.
HRESULT MakeFileThroughTemporary(const wchar_t* fileName, bool replace, bool durable, FileMaker& maker);

}  // namespace fotex
