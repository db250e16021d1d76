// Item tree walk: every item at or below a start item, depth first, within fixed bounds.
#include "item_data.h"

#include "busy.h"
#include "com.h"
#include "trace.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// Far beyond any real camera; a faulty device may present a tree without end.
constexpr int kMaxDepth = 64;
// Far beyond any real folder (hosts list 100,000 items flat); a faulty enumerator that never
// reports the end would otherwise keep the walk transferring forever.
constexpr unsigned long kMaxSiblings = 1000000;

}  // namespace

HRESULT ItemVisitor::TypeOf(IWiaItem* item, LONG& type) {
    return Retrying([&] { return item->GetItemType(&type); });
}

namespace {

// Kept out of line: inlined with its visitor, the recursion unrolls into kilobytes of copies.
// With `batch` 1 the calls are those of TransferAllImages since 1.3: Next(1, ..., nullptr).
[[gnu::noinline]] HRESULT Walk(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth, ULONG batch) {
    if (item == nullptr) return E_INVALIDARG;
    if (depth > kMaxDepth) {
        if (trace) TraceHresult("Item tree too deep", FOTEX_E_TREE_TOO_DEEP);
        return FOTEX_E_TREE_TOO_DEEP;
    }

    LONG type = 0;
    HRESULT hr = visitor.TypeOf(item, type);
    if (FAILED(hr)) {
        type = 0;  // a failed read is no type: the item is neither visited nor walked
        hr = visitor.ServiceFailure(hr);
    }

    hr = visitor.Visit(item, type, hr);
    if ((type & (wia::kItemTypeFolder | wia::kItemTypeHasAttachments)) == 0) return hr;

    ComPtr<IEnumWiaItem> children;
    hr = Retrying([&] { return children.receive(item->EnumChildItems(children.put())); });
    if (FAILED(hr)) return visitor.ServiceFailure(hr);
    if (hr == S_OK && !children) return visitor.ServiceFailure(E_POINTER);

    unsigned long fetched = 0;
    while (hr == S_OK) {
        IWiaItem* got[kWalkBatch] = {};
        ULONG count = 0;
        hr = Retrying([&] { return children->Next(batch, got, batch == 1 ? nullptr : &count); });
        if (FAILED(hr)) {
            if (trace) TraceHresult("Error calling pEnumWiaItem->Next", hr);
            return visitor.ServiceFailure(hr);
        }
        // One element comes only with S_OK; more come with their count, S_FALSE at the end
        // with fewer. A count beyond the request is a faulty service's: nothing past it is read.
        if (batch == 1) count = hr == S_OK ? 1 : 0;
        if (count > batch) count = batch;
        // Success without an item: asking again may give the same answer forever.
        if (hr == S_OK && count == 0) return visitor.ServiceFailure(E_POINTER);
        ComPtr<IWiaItem> owned[kWalkBatch];
        for (ULONG i = 0; i < count; ++i) owned[i] = ComPtr<IWiaItem>::attach(got[i]);
        for (ULONG i = 0; i < count; ++i) {
            if (++fetched > kMaxSiblings) {
                if (trace) TraceHresult("Too many items in one folder", FOTEX_E_BOUNDS);
                return FOTEX_E_BOUNDS;
            }
            const HRESULT walked = Walk(owned[i].get(), visitor, trace, depth + 1, batch);
            if (walked != S_OK) return walked == S_FALSE ? S_OK : walked;
        }
    }
    return hr == S_FALSE ? S_OK : hr;
}

}  // namespace

HRESULT WalkItemTree(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth) {
    return Walk(item, visitor, trace, depth, 1);
}

HRESULT WalkItemTreeInBatches(IWiaItem* item, ItemVisitor& visitor) { return Walk(item, visitor, false, 0, kWalkBatch); }

}  // namespace fotex
