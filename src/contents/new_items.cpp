// The items new since a handle's previous look: what a tethering host saves, whatever the
// camera's events said. The walk is ListCameraItems'; an item object seen before keeps the facts
// read then, so a look at a full camera reads the camera for the new items alone.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "com.h"
#include "contents.h"
#include "fotex.h"
#include "growable.h"
#include "handles.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// FNV-1a over the facts, so that most unequal items differ in one comparison.
uint32_t Mix(uint32_t hash, const void* bytes, size_t n) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < n; ++i) hash = (hash ^ b[i]) * 16777619u;
    return hash;
}

bool SameFacts(const SeenItem& a, const SeenItem& b) {
    return a.hash == b.hash && a.size == b.size && std::memcmp(a.time, b.time, sizeof a.time) == 0 &&
           lstrcmpW(a.name, b.name) == 0;
}

LONGLONG SizeOf(const PROPVARIANT& v) {
    switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_I8: return v.hVal.QuadPart;
    case VT_UI8: return static_cast<LONGLONG>(v.uhVal.QuadPart);
    default: return -1;
    }
}

// The item's full name, size and time into `seen` (a missing one reads as empty); S_FALSE when
// the item is gone from the camera, which a new look then leaves out.
HRESULT ReadFacts(IWiaItem* item, SeenItem& seen) {
    ComPtr<IWiaPropertyStorage> storage;
    HRESULT hr = QueryPropertyStorage(item, storage);
    PropVariants<3> values;
    if (SUCCEEDED(hr)) {
        const PROPSPEC specs[3] = {PropSpecById(wia::kIpaFullItemName), PropSpecById(wia::kIpaItemSize),
                                   PropSpecById(wia::kIpaItemTime)};
        hr = values.ReadFrom(storage.get(), specs);
    }
    if (hr == wia::kWiaErrorItemDeleted) return S_FALSE;
    if (FAILED(hr)) return hr;
    const WCHAR* name = L"";
    if (values[0].vt == VT_BSTR && values[0].bstrVal != nullptr) name = values[0].bstrVal;
    if (values[0].vt == VT_LPWSTR && values[0].pwszVal != nullptr) name = values[0].pwszVal;
    const size_t units = static_cast<size_t>(lstrlenW(name));
    seen.name = static_cast<WCHAR*>(std::malloc((units + 1) * sizeof(WCHAR)));
    if (seen.name == nullptr) return E_OUTOFMEMORY;
    std::memcpy(seen.name, name, (units + 1) * sizeof(WCHAR));
    seen.size = SizeOf(values[1]);
    std::memset(seen.time, 0, sizeof seen.time);
    if (values[2].vt == (VT_VECTOR | VT_UI2) && values[2].caui.pElems != nullptr)
        std::memcpy(seen.time, values[2].caui.pElems, std::min<size_t>(values[2].caui.cElems, 8) * sizeof(uint16_t));
    uint32_t hash = Mix(2166136261u, seen.name, units * sizeof(WCHAR));
    hash = Mix(hash, &seen.size, sizeof seen.size);
    seen.hash = Mix(hash, seen.time, sizeof seen.time);
    return S_OK;
}

// The index of the seen item whose object is `item`, or UINT32_MAX.
uint32_t FindObject(const SeenItems& seen, IWiaItem* item) {
    const uint32_t* first = seen.byItem;
    const uint32_t* end = first + seen.count;
    const uint32_t* at = std::lower_bound(first, end, item, [&](uint32_t i, IWiaItem* p) {
        return std::less<IWiaItem*>()(seen.items[i].item, p);
    });
    return at != end && seen.items[*at].item == item ? *at : UINT32_MAX;
}

bool KnownFacts(const SeenItems& seen, const SeenItem& facts) {
    for (uint32_t i = 0; i < seen.count; ++i)
        if (SameFacts(seen.items[i], facts)) return true;
    return false;
}

// The look being made: the items on the camera now, each either one of the previous look's
// (`from`, its facts still there) or read afresh. Nothing of the previous look moves until the
// look is complete, so a failure leaves it whole.
class Look {
public:
    ~Look() {
        for (uint32_t i = 0; i < count_; ++i) std::free(fresh_[i].name);
        std::free(fresh_);
        std::free(from_);
        std::free(fresh_index_);
    }

    // Sorts the walk's items into old and fresh; the fresh ones unknown to `old` go to `found`.
    HRESULT Make(const ListedItems& all, const SeenItems& old, bool listNone, ListedItems& found) {
        if (all.count == 0) return S_OK;
        from_ = static_cast<uint32_t*>(std::malloc(all.count * sizeof(uint32_t)));
        fresh_index_ = static_cast<uint32_t*>(std::malloc(all.count * sizeof(uint32_t)));
        if (from_ == nullptr || fresh_index_ == nullptr) return E_OUTOFMEMORY;
        for (uint32_t i = 0; i < all.count; ++i) {
            IWiaItem* item = all.items[i].item;
            from_[i] = FindObject(old, item);
            fresh_index_[i] = UINT32_MAX;
            if (from_[i] != UINT32_MAX) continue;
            SeenItem facts{};
            // The facts are read from the camera: a handler may run meanwhile, but `all`, `old`
            // and this look are the call's own.
            const HRESULT hr = ReadFacts(item, facts);
            if (hr == S_FALSE) continue;  // gone already: neither new nor seen
            if (FAILED(hr)) return hr;
            facts.item = item;
            if (!GrowForOneMore(fresh_, count_, capacity_, 8)) {
                std::free(facts.name);
                return E_OUTOFMEMORY;
            }
            fresh_index_[i] = count_;
            fresh_[count_++] = facts;
            if (!listNone && !KnownFacts(old, facts) && !found.Append(item, all.items[i].type)) return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // The seen items of this look, in camera order, taking the names and references of `old`
    // that it keeps; what `old` has left is freed. Cannot fail once `made` has its storage.
    HRESULT Publish(const ListedItems& all, SeenItems& old, SeenItems& made) {
        const uint32_t n = all.count;
        if (n > 0) {
            made.items = static_cast<SeenItem*>(std::malloc(n * sizeof(SeenItem)));
            made.byItem = static_cast<uint32_t*>(std::malloc(n * sizeof(uint32_t)));
            if (made.items == nullptr || made.byItem == nullptr) {
                std::free(made.items);
                std::free(made.byItem);
                made = SeenItems();
                return E_OUTOFMEMORY;
            }
        }
        made.capacity = n;
        for (uint32_t i = 0; i < n; ++i) {
            if (from_[i] != UINT32_MAX) {
                SeenItem& kept = old.items[from_[i]];
                made.items[made.count++] = kept;
                kept.name = nullptr;
                kept.item = nullptr;
            } else if (fresh_index_[i] != UINT32_MAX) {
                SeenItem& facts = fresh_[fresh_index_[i]];
                facts.item->AddRef();
                made.items[made.count++] = facts;
                facts.name = nullptr;
            }
        }
        for (uint32_t i = 0; i < made.count; ++i) made.byItem[i] = i;
        std::sort(made.byItem, made.byItem + made.count, [&](uint32_t a, uint32_t b) {
            return std::less<IWiaItem*>()(made.items[a].item, made.items[b].item);
        });
        made.taken = true;
        // What the camera no longer holds: compacted, then released.
        uint32_t left = 0;
        for (uint32_t i = 0; i < old.count; ++i)
            if (old.items[i].item != nullptr) old.items[left++] = old.items[i];
        old.count = left;
        old.Free();
        return S_OK;
    }

private:
    SeenItem* fresh_ = nullptr;
    uint32_t count_ = 0, capacity_ = 0;
    uint32_t* from_ = nullptr;         // per walked item: its index in the old look, or UINT32_MAX
    uint32_t* fresh_index_ = nullptr;  // per walked item: its index in fresh_, or UINT32_MAX
};

}  // namespace

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL ListNewCameraItems(FOTEX_DEVICE device, int flags, int* count) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (count == nullptr) return FOTEX_E_POINTER;
    if ((flags & ~FOTEX_NEW_RESET) != 0) return FOTEX_E_INVALIDARG;
    const ComPtr<IWiaItem> root = HoldHandle(device);
    ListedItems built;
    uint32_t serial = 0;
    if (!Lists().Begin(root.get(), built, serial)) return E_OUTOFMEMORY;
    SeenItems old;
    HRESULT hr = Lists().TakeSeen(root.get(), serial, old);
    if (hr != S_OK) {
        Lists().Abandon(root.get(), serial, built);
        return hr;
    }

    ListedItems all;
    hr = ListInto(root.get(), all);
    Look look;
    if (hr == S_OK) hr = look.Make(all, old, !old.taken || (flags & FOTEX_NEW_RESET) != 0, built);
    SeenItems made;
    if (hr == S_OK) hr = look.Publish(all, old, made);
    all.Free();
    if (hr != S_OK) {
        Lists().PutSeen(root.get(), serial, old);
        Lists().Abandon(root.get(), serial, built);
        return FailureStatus(hr);
    }
    Lists().PutSeen(root.get(), serial, made);
    const uint32_t listed = built.count;
    Lists().Publish(root.get(), serial, built);
    *count = static_cast<int>(listed);
    return FOTEX_OK;
}
