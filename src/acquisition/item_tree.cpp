// Item tree walk: every item at or below a start item, depth first, within fixed bounds.
#include "item_data.h"

#include "busy.h"
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

// Kept out of line: inlined with its visitor, the recursion unrolls into kilobytes of copies.
[[gnu::noinline]] HRESULT WalkItemTree(IWiaItem* item, ItemVisitor& visitor, bool trace, int depth) {
    if (item == nullptr) return E_INVALIDARG;
    if (depth > kMaxDepth) {
        if (trace) TraceHresult("Item tree too deep", FOTEX_E_TREE_TOO_DEEP);
        return FOTEX_E_TREE_TOO_DEEP;
    }

    LONG type = 0;
    HRESULT hr = Retrying([&] { return item->GetItemType(&type); });
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
        ComPtr<IWiaItem> child;
        hr = Retrying([&] { return child.fetch(children->Next(1, child.put(), nullptr)); });
        if (hr == S_OK && ++fetched > kMaxSiblings) {
            if (trace) TraceHresult("Too many items in one folder", FOTEX_E_BOUNDS);
            return FOTEX_E_BOUNDS;
        }
        if (hr == S_OK)
            hr = WalkItemTree(child.get(), visitor, trace, depth + 1);
        else if (FAILED(hr)) {
            if (trace) TraceHresult("Error calling pEnumWiaItem->Next", hr);
            return visitor.ServiceFailure(hr);
        }
    }
    return hr == S_FALSE ? S_OK : hr;
}

}  // namespace fotex
