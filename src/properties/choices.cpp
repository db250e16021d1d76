// The valid values of one property of the root item, as the service's property attributes give
// them: a range, a list or a mask of flags, each in a vector of integers whose first elements
// carry the nominal value (and, for a list, the count).
#include "properties.h"

#include <algorithm>
#include <climits>

#include "com.h"
#include "conditions.h"
#include "handles.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// The integers of an attribute vector; empty for any other form (text, GUIDs, reals, 64 bits).
struct Integers {
    const void* data = nullptr;
    ULONG size = 0;
    VARTYPE type = VT_EMPTY;
};

Integers IntegersOf(const PROPVARIANT& value) {
    const auto type = static_cast<VARTYPE>(value.vt & ~VT_VECTOR);
    if (!(value.vt & VT_VECTOR)) return {};
    switch (type) {
        // Every counted array of a PROPVARIANT has the same layout: count, then elements.
        case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
            return {value.cal.pElems, value.cal.cElems, type};
        default:
            return {};
    }
}

// Element i widened to 32 bits; an unsigned 32-bit one as its bit pattern. Out of line: it is
// read in six places.
[[gnu::noinline]] LONG ElementOf(VARTYPE type, const void* data, ULONG i) {
    switch (type) {
        case VT_I1: return static_cast<const CHAR*>(data)[i];
        case VT_UI1: return static_cast<const BYTE*>(data)[i];
        case VT_I2: return static_cast<const SHORT*>(data)[i];
        case VT_UI2: return static_cast<const USHORT*>(data)[i];
        default: return static_cast<const LONG*>(data)[i];
    }
}

}  // namespace

LONG Choices::Value(ULONG i) const { return kind == FOTEX_CHOICES_RANGE ? range[i] : ElementOf(type, elements, first + i); }

Choices DecodeChoices(ULONG flags, const PROPVARIANT& attribute) {
    const Integers v = IntegersOf(attribute);
    Choices c;
    c.elements = v.data;
    c.type = v.type;
    c.isUnsigned = v.type == VT_UI4;
    const auto at = [&](ULONG i) { return ElementOf(v.type, v.data, i); };
    if ((flags & wia::kPropRange) && v.size >= wia::kRangeElements) {
        c.kind = FOTEX_CHOICES_RANGE;
        c.nominal = at(wia::kRangeNom);
        c.range[0] = at(wia::kRangeMin);
        c.range[1] = at(wia::kRangeMax);
        c.range[2] = at(wia::kRangeStep);
        c.count = 3;
    } else if ((flags & wia::kPropList) && v.size >= wia::kListValues) {
        c.kind = FOTEX_CHOICES_LIST;
        c.nominal = at(wia::kListNom);
        // The stated count never reaches past the vector.
        const LONG stated = at(wia::kListCount);
        c.first = wia::kListValues;
        c.count = std::min(stated < 0 ? 0 : static_cast<ULONG>(stated), v.size - wia::kListValues);
    } else if ((flags & wia::kPropFlag) && v.size >= wia::kFlagElements) {
        c.kind = FOTEX_CHOICES_FLAGS;
        c.nominal = at(wia::kFlagNom);
        c.first = wia::kFlagValues;
        c.count = 1;
    }
    return c;
}

bool Choices::Admits(int value) const {
    // Flipping the top bit orders unsigned values as signed ones, and keeps their differences.
    const LONG flip = isUnsigned ? LONG_MIN : 0;
    const long long v = value ^ flip, min = range[0] ^ flip;
    switch (kind) {
        case FOTEX_CHOICES_RANGE:
            if (v < min || v > (range[1] ^ flip)) return false;
            return range[2] <= 0 || (v - min) % range[2] == 0;
        case FOTEX_CHOICES_LIST:
            for (ULONG i = 0; i < count; ++i)
                if (Value(i) == value) return true;
            return false;
        case FOTEX_CHOICES_FLAGS:
            return (static_cast<ULONG>(value) & ~static_cast<ULONG>(Value(0))) == 0;
        default:
            return true;
    }
}

int ReadSettingChoices(FOTEX_DEVICE device, int propertyId, int* access, int* kind, int* nominal, int* values,
                       int capacity, int* count) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (capacity < 0) return FOTEX_E_INVALIDARG;
    if (values == nullptr && capacity > 0) return FOTEX_E_POINTER;

    PROPSPEC selector = PropSpecById(static_cast<PROPID>(propertyId));
    ULONG flags = 0;
    PropVariants<1> attribute;
    const HRESULT hr = OnDevice(device, [&](IWiaItem* root) {
        ComPtr<IWiaPropertyStorage> storage;
        const HRESULT queried = QueryPropertyStorage(root, storage);
        if (FAILED(queried)) return queried;
        return Retrying([&] { return attribute.AttributesFrom(storage.get(), &selector, &flags); });
    });
    if (FAILED(hr)) return ServiceStatus(hr);
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
