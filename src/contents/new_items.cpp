// The items new since a handle's previous look: what a tethering host saves, whatever the
// camera's events said. The walk is ListCameraItems'; an item object seen before keeps the facts
// read then, so a look at a full camera reads the camera for the new items alone.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "com.h"
#include "conditions.h"
#include "contents.h"
#include "fotex.h"
#include "growable.h"
#include "handles.h"
#include "item_data.h"
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

// An item that gives no size of these types; sizes are compared, never returned.
constexpr LONGLONG kNoSize = -1;

LONGLONG SizeOf(const PROPVARIANT& v) {
    switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_I8: return v.hVal.QuadPart;
    case VT_UI8: return static_cast<LONGLONG>(v.uhVal.QuadPart);
    default: return kNoSize;
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
        hr = Retrying([&] { return values.ReadFrom(storage.get(), specs); });
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

uint32_t SlotOf(const IWiaItem* item, uint32_t mask) {
    uint64_t p = reinterpret_cast<uintptr_t>(item);
    p = (p >> 4) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(p >> 32) & mask;
}

// The index of the seen item whose object is `item`, or UINT32_MAX.
uint32_t FindObject(const SeenItems& seen, const IWiaItem* item) {
    if (seen.slotCount == 0) return UINT32_MAX;
    const uint32_t mask = seen.slotCount - 1;
    for (uint32_t s = SlotOf(item, mask);; s = (s + 1) & mask) {
        const uint32_t at = seen.slots[s];
        if (at == UINT32_MAX || seen.items[at].item == item) return at;
    }
}

// Slots for `count` items: the ones there when large enough (`fresh` false), else new ones.
uint32_t* SlotsFor(const SeenItems& seen, uint32_t count, uint32_t& slotCount, bool& fresh) {
    slotCount = 16;
    while (slotCount < count * 2) slotCount *= 2;  // count <= INT_MAX: no overflow
    fresh = slotCount > seen.slotCount;
    if (!fresh) {
        slotCount = seen.slotCount;
        return seen.slots;
    }
    auto* slots = static_cast<uint32_t*>(std::malloc(slotCount * sizeof(uint32_t)));
    if (slots != nullptr) std::memset(slots, 0xFF, slotCount * sizeof(uint32_t));
    return slots;
}

void Insert(SeenItems& seen, uint32_t at) {
    const uint32_t mask = seen.slotCount - 1;
    uint32_t s = SlotOf(seen.items[at].item, mask);
    while (seen.slots[s] != UINT32_MAX) s = (s + 1) & mask;
    seen.slots[s] = at;
}

bool KnownFacts(const SeenItems& seen, const SeenItem& facts) {
    for (uint32_t i = 0; i < seen.count; ++i)
        if (SameFacts(seen.items[i], facts)) return true;
    return false;
}

// One item of the walk: one the previous look had (`from`), or one it did not (`fresh`, with a
// reference of the look's own, and its facts at `facts` once read).
struct Walked {
    IWiaItem* fresh;
    uint32_t from;
    uint32_t facts;
    LONG type;
};

// The look being made: the walk of ListCameraItems, each image and video item found in the
// previous look by its object, where the walk meets them in the same order at no cost. Nothing of
// the previous look changes until the look is complete, so a failure leaves it whole.
class Look final : public ItemVisitor {
public:
    explicit Look(const SeenItems& old) : old_(old) {}

    // An item the previous look had answers from it: a look at a full camera asks the service
    // for the folders' types and the new items' alone (a round trip each out of process).
    HRESULT TypeOf(IWiaItem* item, LONG& type) override {
        const uint32_t at =
            cursor_ < old_.count && old_.items[cursor_].item == item ? cursor_ : FindObject(old_, item);
        if (at == UINT32_MAX) return ItemVisitor::TypeOf(item, type);
        type = old_.items[at].type;
        return S_OK;
    }
    ~Look() {
        for (uint32_t i = 0; i < count_; ++i)
            if (walked_[i].fresh != nullptr) walked_[i].fresh->Release();
        for (uint32_t i = 0; i < factsCount_; ++i) std::free(facts_[i].name);
        std::free(walked_);
        std::free(facts_);
    }

    HRESULT Visit(IWiaItem* item, LONG type, HRESULT current) override {
        if (FAILED(failure_)) return failure_;
        if ((type & (wia::kItemTypeImage | wia::kItemTypeVideo)) == 0) return current;
        if (count_ >= static_cast<uint32_t>(INT_MAX)) return failure_ = FOTEX_E_BOUNDS;
        if (!GrowForOneMore(walked_, count_, capacity_, old_.count + 8)) return failure_ = E_OUTOFMEMORY;
        Walked w{nullptr, UINT32_MAX, UINT32_MAX, type};
        if (cursor_ < old_.count && old_.items[cursor_].item == item) {
            w.from = cursor_++;
        } else {
            w.from = FindObject(old_, item);
            // Only the previous items in their order, then new ones, keep the index as it is.
            appended_ = appended_ && w.from == UINT32_MAX && cursor_ == old_.count;
            if (w.from == UINT32_MAX) {
                item->AddRef();
                w.fresh = item;
            }
        }
        walked_[count_++] = w;
        return current;
    }
    HRESULT ServiceFailure(HRESULT hr) override { return ServiceStatus(hr); }
    HRESULT failure() const { return failure_; }

    // Reads the facts of the items the previous look did not have; those unknown to it go to
    // `found` unless `listNone`.
    HRESULT Sort(bool listNone, ListedItems& found) {
        for (uint32_t i = 0; i < count_; ++i) {
            Walked& w = walked_[i];
            if (w.fresh == nullptr) continue;
            SeenItem facts{};
            // From the camera: a handler may run meanwhile, but this look and the previous one
            // are the call's own.
            const HRESULT hr = ReadFacts(w.fresh, facts);
            if (hr == S_FALSE) {  // gone already: neither new nor seen
                w.fresh->Release();
                w.fresh = nullptr;
                appended_ = false;
                continue;
            }
            if (FAILED(hr)) return hr;
            facts.item = w.fresh;
            facts.type = w.type;
            if (!GrowForOneMore(facts_, factsCount_, factsCapacity_, 8)) {
                std::free(facts.name);
                return E_OUTOFMEMORY;
            }
            w.facts = factsCount_;
            facts_[factsCount_++] = facts;
            if (!listNone && !KnownFacts(old_, facts) && !found.Append(w.fresh, w.type)) return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    // The seen items of this look in camera order, into `made`, taking what `old` keeps (its
    // names and references); what `old` has left is released. Storage is had first, so a
    // failure changes nothing.
    HRESULT Publish(SeenItems& old, SeenItems& made) {
        const bool extend = appended_ && cursor_ == old.count;
        uint32_t n = 0;
        for (uint32_t i = 0; i < count_; ++i) n += walked_[i].from != UINT32_MAX || walked_[i].fresh != nullptr;
        uint32_t slotCount = 0;
        bool newSlots = false;
        SeenItem* items = old.items;
        if (extend && n > old.capacity) {
            items = static_cast<SeenItem*>(std::realloc(old.items, n * sizeof(SeenItem)));
            if (items == nullptr) return E_OUTOFMEMORY;
            old.items = items;
            old.capacity = n;
        } else if (!extend) {
            items = n > 0 ? static_cast<SeenItem*>(std::malloc(n * sizeof(SeenItem))) : nullptr;
            if (n > 0 && items == nullptr) return E_OUTOFMEMORY;
        }
        uint32_t* slots = SlotsFor(extend ? old : SeenItems(), n, slotCount, newSlots);
        if (slots == nullptr) {
            if (!extend) std::free(items);
            return E_OUTOFMEMORY;
        }

        if (extend) {
            made = old;
            old = SeenItems();
            if (newSlots) std::free(made.slots);
            made.slots = slots;
            made.slotCount = slotCount;
            const uint32_t first = newSlots ? 0 : made.count;
            for (uint32_t i = 0; i < count_; ++i)
                if (walked_[i].fresh != nullptr) made.items[made.count++] = Take(walked_[i]);
            for (uint32_t at = first; at < made.count; ++at) Insert(made, at);
        } else {
            made.items = items;
            made.capacity = n;
            made.slots = slots;
            made.slotCount = slotCount;
            for (uint32_t i = 0; i < count_; ++i) {
                Walked& w = walked_[i];
                if (w.from != UINT32_MAX) {
                    SeenItem& kept = old.items[w.from];
                    if (kept.item == nullptr) continue;  // met twice in the walk: kept once
                    made.items[made.count++] = kept;
                    kept.name = nullptr;
                    kept.item = nullptr;
                } else if (w.fresh != nullptr) {
                    made.items[made.count++] = Take(w);
                }
            }
            for (uint32_t at = 0; at < made.count; ++at) Insert(made, at);
            // What the camera no longer holds: compacted, then released.
            uint32_t left = 0;
            for (uint32_t i = 0; i < old.count; ++i)
                if (old.items[i].item != nullptr) old.items[left++] = old.items[i];
            old.count = left;
        }
        made.taken = true;
        old.Free();
        return S_OK;
    }

private:
    // The fresh item's facts with the look's reference, which they now own.
    SeenItem Take(Walked& w) {
        SeenItem& facts = facts_[w.facts];
        const SeenItem taken = facts;
        facts.name = nullptr;
        w.fresh = nullptr;
        return taken;
    }

    const SeenItems& old_;
    Walked* walked_ = nullptr;
    uint32_t count_ = 0, capacity_ = 0;
    uint32_t cursor_ = 0;    // the previous look's next item, as the walk should meet it
    bool appended_ = true;   // so far: the previous items in order, new ones only after them
    SeenItem* facts_ = nullptr;
    uint32_t factsCount_ = 0, factsCapacity_ = 0;
    HRESULT failure_ = S_OK;
};

}  // namespace

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL ListNewCameraItems(FOTEX_DEVICE device, int flags, int* count) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (count == nullptr) return FOTEX_E_POINTER;
    if ((flags & ~FOTEX_NEW_RESET) != 0) return FOTEX_E_INVALIDARG;
    // What counts as seen belongs to the handle, whichever root its calls reach after a reconnect.
    IWiaItem* const key = ItemFromHandle(device);
    return OnDevice(device, [&](IWiaItem* root) {
        ListedItems built;
        uint32_t serial = 0;
        if (!Lists().Begin(key, built, serial)) return static_cast<int>(E_OUTOFMEMORY);
        SeenItems old;
        HRESULT hr = Lists().TakeSeen(key, serial, old);
        if (hr != S_OK) {
            Lists().Abandon(key, serial, built);
            return static_cast<int>(hr);
        }

        Look look(old);
        hr = WalkItemTreeInBatches(root, look);
        if (hr == S_OK) hr = look.failure();
        if (hr == S_OK) hr = look.Sort(!old.taken || (flags & FOTEX_NEW_RESET) != 0, built);
        SeenItems made;
        if (hr == S_OK) hr = look.Publish(old, made);
        if (hr != S_OK) {
            Lists().PutSeen(key, serial, old);
            Lists().Abandon(key, serial, built);
            return FailureStatus(hr);
        }
        Lists().PutSeen(key, serial, made);
        const uint32_t listed = built.count;
        Lists().Publish(key, serial, built);
        *count = static_cast<int>(listed);
        return FOTEX_OK;
    });
}
