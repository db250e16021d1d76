// The valid values of one property of the root item, as the service's property attributes give
// them: a range, a list or a mask of flags, each in a vector of integers whose first elements
// carry the nominal value (and, for a list, the count).
#include "properties.h"

#include <algorithm>

#include "com.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// The integers of an attribute vector; empty for any other form (text, GUIDs, reals).
struct Integers {
    const LONG* data = nullptr;
    ULONG size = 0;
};

Integers IntegersOf(const PROPVARIANT& value) {
    // The unsigned form carries bit patterns (flags); the host reads them as its integers.
    if (value.vt == (VT_VECTOR | VT_I4)) return {value.cal.pElems, value.cal.cElems};
    if (value.vt == (VT_VECTOR | VT_UI4)) return {reinterpret_cast<const LONG*>(value.caul.pElems), value.caul.cElems};
    return {};
}

}  // namespace

Choices DecodeChoices(ULONG flags, const PROPVARIANT& attribute) {
    const Integers v = IntegersOf(attribute);
    Choices c;
    if ((flags & wia::kPropRange) && v.size >= wia::kRangeElements) {
        c.kind = FOTEX_CHOICES_RANGE;
        c.nominal = v.data[wia::kRangeNom];
        c.range[0] = v.data[wia::kRangeMin];
        c.range[1] = v.data[wia::kRangeMax];
        c.range[2] = v.data[wia::kRangeStep];
        c.count = 3;
    } else if ((flags & wia::kPropList) && v.size >= wia::kListValues) {
        c.kind = FOTEX_CHOICES_LIST;
        c.nominal = v.data[wia::kListNom];
        // The stated count never reaches past the vector.
        const ULONG stated = v.data[wia::kListCount] < 0 ? 0 : static_cast<ULONG>(v.data[wia::kListCount]);
        c.list = v.data + wia::kListValues;
        c.count = std::min(stated, v.size - wia::kListValues);
    } else if ((flags & wia::kPropFlag) && v.size >= wia::kFlagElements) {
        c.kind = FOTEX_CHOICES_FLAGS;
        c.nominal = v.data[wia::kFlagNom];
        c.list = v.data + wia::kFlagValues;
        c.count = 1;
    }
    return c;
}

bool Choices::Admits(int value) const {
    switch (kind) {
        case FOTEX_CHOICES_RANGE:
            if (value < range[0] || value > range[1]) return false;
            return range[2] <= 0 || (static_cast<long long>(value) - range[0]) % range[2] == 0;
        case FOTEX_CHOICES_LIST:
            for (ULONG i = 0; i < count; ++i)
                if (list[i] == value) return true;
            return false;
        case FOTEX_CHOICES_FLAGS:
            return (static_cast<ULONG>(value) & ~static_cast<ULONG>(list[0])) == 0;
        default:
            return true;
    }
}

int ReadSettingChoices(FOTEX_DEVICE device, int propertyId, int* access, int* kind, int* nominal, int* values,
                       int capacity, int* count) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (capacity < 0) return FOTEX_E_INVALIDARG;
    if (values == nullptr && capacity > 0) return FOTEX_E_POINTER;

    ComPtr<IWiaPropertyStorage> storage;
    HRESULT hr = QueryPropertyStorage(ItemFromHandle(device), storage);
    if (FAILED(hr)) return hr;

    PROPSPEC selector = PropSpecById(static_cast<PROPID>(propertyId));
    ULONG flags = 0;
    PropVariants<1> attribute;
    hr = attribute.AttributesFrom(storage.get(), &selector, &flags);
    if (FAILED(hr)) return hr;
    // S_FALSE is how the service says it has no such property.
    if (hr != S_OK) return FOTEX_E_NOT_FOUND;

    const Choices c = DecodeChoices(flags, attribute[0]);
    if (access != nullptr) *access = static_cast<int>(flags & (wia::kPropRead | wia::kPropWrite));
    if (kind != nullptr) *kind = c.kind;
    if (nominal != nullptr) *nominal = c.nominal;
    if (count != nullptr) *count = static_cast<int>(c.count);
    const ULONG written = std::min(c.count, static_cast<ULONG>(capacity));
    for (ULONG i = 0; i < written; ++i) values[i] = c.Value(i);
    return c.count > static_cast<ULONG>(capacity) ? FOTEX_E_MORE_DATA : FOTEX_OK;
}

}  // namespace fotex
