#include <cstdlib>
#include <cstring>

#include "contents.h"

namespace fotex {

namespace {
// Constant-initialised, like the device list; its destructor runs after the entry point's
// process-detach branch has released the references.
ItemLists g_lists;

// Capacity for one more record, doubling; false when it cannot be had.
template <class T>
bool Grow(T*& records, uint32_t count, uint32_t& capacity) {
    if (count < capacity) return true;
    const uint32_t grown = count + (count > 0 ? count : 8);
    if (grown < count || grown > SIZE_MAX / sizeof(T)) return false;
    auto* storage = static_cast<T*>(std::realloc(records, grown * sizeof(T)));
    if (storage == nullptr) return false;
    records = storage;
    capacity = grown;
    return true;
}
}  // namespace

ItemLists& Lists() { return g_lists; }

bool ItemList::Append(IWiaItem* item, LONG type) {
    if (!Grow(next_.items, next_.count, next_.capacity)) return false;
    item->AddRef();
    next_.items[next_.count++] = {item, type};
    return true;
}

void ItemList::Records::Release() {
    // Emptied before the releases: a release may call back into the library.
    const uint32_t n = count;
    count = 0;
    for (uint32_t i = 0; i < n; ++i) items[i].item->Release();
}

void ItemList::Finish(bool complete) {
    current_.Release();
    if (complete) {
        const Records made = next_;
        next_ = current_;
        current_ = made;
    } else {
        next_.Release();
    }
}

void ItemList::Empty() {
    current_.Release();
    next_.Release();
}

void ItemList::Forget() {
    std::free(current_.items);
    std::free(next_.items);
    current_ = Records();
    next_ = Records();
}

void ItemList::Free() {
    Empty();
    Forget();
}

ItemLists::~ItemLists() {
    for (uint32_t i = 0; i < count_; ++i) lists_[i].Forget();
    std::free(lists_);
    lists_ = nullptr;
    count_ = capacity_ = 0;
}

ItemList* ItemLists::Find(IWiaItem* device) {
    for (uint32_t i = 0; i < count_; ++i)
        if (lists_[i].device == device) return &lists_[i];
    return nullptr;
}

ItemList* ItemLists::Obtain(IWiaItem* device) {
    if (ItemList* list = Find(device)) return list;
    if (!Grow(lists_, count_, capacity_)) return nullptr;
    ItemList* list = &lists_[count_++];
    *list = ItemList();
    list->device = device;
    return list;
}

void ItemLists::Drop(IWiaItem* device) {
    ItemList* list = Find(device);
    if (list == nullptr) return;
    ItemList gone = *list;
    *list = lists_[--count_];
    gone.Free();
}

void ItemLists::ReleaseAll() {
    while (count_ > 0) Drop(lists_[count_ - 1].device);
    std::free(lists_);
    lists_ = nullptr;
    capacity_ = 0;
}

}  // namespace fotex
