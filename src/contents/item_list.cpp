#include <cstdlib>
#include <cstring>

#include "contents.h"
#include "growable.h"
#include "handles.h"
#include "service.h"

namespace fotex {

namespace {
// Constant-initialised, like the device list; its destructor runs after the entry point's
// process-detach branch has released the references.
ItemLists g_lists;

// Lists and the table start at eight and double.
constexpr uint32_t kFirstCapacity = 8;

}  // namespace

void ForgetHandle(IWiaItem* key) {
    ForgetKeptRead(key);
    g_lists.Drop(key);
}

ItemLists& Lists() { return g_lists; }

bool ListedItems::Append(IWiaItem* item, LONG type) {
    if (!GrowForOneMore(items, count, capacity, kFirstCapacity)) return false;
    item->AddRef();
    ListedItem& listed = items[count++];
    listed.item = item;
    listed.type = type;
    listed.known = false;
    return true;
}

bool ListedItems::Append(IWiaItem* item, LONG type, ListedFacts facts, const WCHAR* const (&texts)[3]) {
    const uint32_t units[3] = {facts.nameUnits, facts.extensionUnits, facts.fullNameUnits};
    uint64_t needed = textUnits;
    for (uint32_t n : units) needed += n;
    if (needed > UINT32_MAX / sizeof(WCHAR)) return false;
    if (needed > textCapacity) {
        uint64_t grown = textCapacity > 0 ? textCapacity : 256;
        while (grown < needed) grown *= 2;
        if (grown > UINT32_MAX / sizeof(WCHAR)) grown = needed;
        auto* pool = static_cast<WCHAR*>(std::realloc(text, static_cast<size_t>(grown) * sizeof(WCHAR)));
        if (pool == nullptr) return false;
        text = pool;
        textCapacity = static_cast<uint32_t>(grown);
    }
    if (!Append(item, type)) return false;
    facts.text = textUnits;
    for (int i = 0; i < 3; ++i) {
        if (units[i] > 0) std::memcpy(text + textUnits, texts[i], units[i] * sizeof(WCHAR));
        textUnits += units[i];
    }
    ListedItem& listed = items[count - 1];
    listed.known = true;
    listed.facts = facts;
    return true;
}

void ListedItems::Release() {
    // Emptied before the releases: a release may call back into the library.
    const uint32_t n = count;
    count = 0;
    textUnits = 0;
    for (uint32_t i = 0; i < n; ++i) items[i].item->Release();
}

void ListedItems::Free() {
    Release();
    FreeStorage();
}

void ListedItems::FreeStorage() {
    std::free(items);
    std::free(text);
    *this = ListedItems();
}

ItemLists::~ItemLists() {
    for (uint32_t i = 0; i < count_; ++i) {
        entries_[i].current.FreeStorage();
        entries_[i].spare.FreeStorage();
        std::free(entries_[i].seen.items);
        std::free(entries_[i].seen.slots);
    }
    std::free(entries_);
    entries_ = nullptr;
    count_ = capacity_ = 0;
}

ItemLists::Entry* ItemLists::Locate(IWiaItem* key) const {
    for (uint32_t i = 0; i < count_; ++i)
        if (entries_[i].key == key) return &entries_[i];
    return nullptr;
}

const ListedItems* ItemLists::Find(IWiaItem* key) const {
    const Entry* entry = Locate(key);
    return entry != nullptr ? &entry->current : nullptr;
}

bool ItemLists::Begin(IWiaItem* key, ListedItems& building, uint32_t& serial) {
    Entry* entry = Locate(key);
    if (entry == nullptr) {
        if (!GrowForOneMore(entries_, count_, capacity_, kFirstCapacity)) return false;
        entry = &entries_[count_++];
        *entry = Entry{key, ++serials_, ListedItems(), ListedItems(), SeenItems(), false};
        // From now on a handle given back takes its list along.
        SetHandleForgetter(&ForgetHandle);
    }
    building = entry->spare;
    entry->spare = ListedItems();
    serial = entry->serial;
    return true;
}

void ItemLists::Publish(IWiaItem* key, uint32_t serial, ListedItems& built) {
    ListedItems old = built;
    built = ListedItems();
    Entry* entry = Locate(key);
    if (entry != nullptr && entry->serial == serial) {
        const ListedItems made = old;
        old = entry->current;
        entry->current = made;
    }
    // The table is whole again before the releases, which may call back.
    old.Release();
    entry = Locate(key);
    if (entry != nullptr && entry->serial == serial && entry->spare.items == nullptr && entry->spare.text == nullptr)
        entry->spare = old;
    else
        old.FreeStorage();
}

void ItemLists::Abandon(IWiaItem* key, uint32_t serial, ListedItems& unused) {
    ListedItems old = unused;
    unused = ListedItems();
    old.Release();
    Entry* entry = Locate(key);
    if (entry != nullptr && entry->serial == serial && entry->spare.items == nullptr && entry->spare.text == nullptr)
        entry->spare = old;
    else
        old.FreeStorage();
}

HRESULT ItemLists::TakeSeen(IWiaItem* key, uint32_t serial, SeenItems& seen) {
    Entry* entry = Locate(key);
    if (entry == nullptr || entry->serial != serial) return FOTEX_E_HANDLE;
    if (entry->seenOut) return FOTEX_E_BUSY;
    seen = entry->seen;
    entry->seen = SeenItems();
    entry->seenOut = true;
    return S_OK;
}

void ItemLists::PutSeen(IWiaItem* key, uint32_t serial, SeenItems& seen) {
    SeenItems given = seen;
    seen = SeenItems();
    Entry* entry = Locate(key);
    if (entry != nullptr && entry->serial == serial && entry->seenOut) {
        entry->seen = given;
        entry->seenOut = false;
        return;
    }
    given.Free();
}

void SeenItems::Free() {
    SeenItems gone = *this;
    *this = SeenItems();
    // Emptied before the releases: a release may call back into the library.
    for (uint32_t i = 0; i < gone.count; ++i) std::free(gone.items[i].name);
    for (uint32_t i = 0; i < gone.count; ++i) gone.items[i].item->Release();
    std::free(gone.items);
    std::free(gone.slots);
}

void ItemLists::Drop(IWiaItem* key) {
    Entry* entry = Locate(key);
    if (entry == nullptr) return;
    Entry gone = *entry;
    *entry = entries_[--count_];
    gone.spare.FreeStorage();
    gone.current.Free();
    gone.seen.Free();
}

bool ItemLists::ReleaseAll() {
    // Taken out first: a release may call back into the library.
    Entry* const entries = entries_;
    const uint32_t count = count_;
    entries_ = nullptr;
    count_ = capacity_ = 0;
    bool left = false;
    for (uint32_t i = 0; i < count; ++i) {
        const ListedItems& list = entries[i].current;
        for (uint32_t n = 0; n < list.count; ++n) left = ReleaseUnlessProxy(list.items[n].item) || left;
        std::free(list.items);
        std::free(list.text);
        std::free(entries[i].spare.items);
        std::free(entries[i].spare.text);
    }
    std::free(entries);
    return left;
}

}  // namespace fotex
