// Any setting of the root item by property id: integers and texts, read and written, with a
// write checked against the property's access and valid values before anything is sent.
// Nothing is kept between calls, so a host's handler that calls in again meets no state of ours.
#include "properties.h"

#include <climits>

#include "com.h"
#include "conditions.h"
#include "handles.h"
#include "integers.h"
#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

// A service result as the family reports it: S_FALSE is how the service says it has no such
// property, and another success than S_OK is no answer to rely on.
HRESULT Settled(HRESULT hr) {
    if (FAILED(hr)) return ServiceStatus(hr);
    if (hr == S_OK) return hr;
    return hr == S_FALSE ? FOTEX_E_NOT_FOUND : E_FAIL;
}

// `value` as a property of `type` holds it; false when that type cannot, so nothing is cut.
bool InTypeOf(VARTYPE type, int value, PROPVARIANT* out) {
    // Every integer member starts at the same place: each narrower one reads the low bytes, and
    // an unsigned 32-bit one the bit pattern, as GetSetting reads it.
    out->vt = type;
    out->hVal.QuadPart = value;
    switch (type) {
        case VT_I1: return value == static_cast<CHAR>(value);
        case VT_UI1: return value == static_cast<BYTE>(value);
        case VT_I2: return value == static_cast<SHORT>(value);
        case VT_UI2: return value == static_cast<USHORT>(value);
        case VT_UI8: return value >= 0;
        default: return true;
    }
}

bool IsText(const PROPVARIANT& v) { return v.vt == VT_BSTR || v.vt == VT_LPWSTR; }

// One property of the device's root item, read through its storage.
struct Reading {
    ComPtr<IWiaPropertyStorage> storage;
    PropVariants<1> value;
    PROPSPEC selector{};

    HRESULT Read(FOTEX_DEVICE device, int propertyId) {
        selector = PropSpecById(static_cast<PROPID>(propertyId));
        return OnDevice(device, [&](IWiaItem* root) {
            const HRESULT hr = QueryPropertyStorage(root, storage);
            if (FAILED(hr)) return static_cast<HRESULT>(ServiceStatus(hr));
            return Settled(Retrying([&] { return value.ReadFrom(storage.get(), &selector); }));
        });
    }

    // The property's access, and its valid values while `attribute` lives.
    HRESULT Ask(PropVariants<1>& attribute, ULONG* flags) {
        return Settled(Retrying([&] { return attribute.AttributesFrom(storage.get(), &selector, flags); }));
    }

    HRESULT Write(const PROPVARIANT& written) {
        const HRESULT hr = Retrying([&] { return storage->WriteMultiple(1, &selector, &written, wia::kIpaFirst); });
        return FAILED(hr) ? ServiceStatus(hr) : hr == S_OK ? hr : E_FAIL;
    }
};

int Status(HRESULT hr) { return hr == S_OK ? FOTEX_OK : static_cast<int>(hr); }

}  // namespace

int PutUtf16(void* out, int bytes, const WCHAR* text, size_t units) {
    if (bytes < 0 || (units + 1) * sizeof(WCHAR) > static_cast<size_t>(bytes)) return FOTEX_E_INSUFFICIENT_BUFFER;
    auto* to = static_cast<WCHAR*>(out);
    for (size_t u = 0; u < units; ++u) to[u] = text[u];
    to[units] = 0;
    return FOTEX_OK;
}

}  // namespace fotex

using namespace fotex;

extern "C" int FOTEX_CALL GetSetting(FOTEX_DEVICE device, int property_id, int* value) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (value == nullptr) return FOTEX_E_POINTER;
    Reading r;
    HRESULT hr = r.Read(device, property_id);
    if (hr != S_OK) return hr;
    int read = 0;
    hr = IntValue(r.value[0], &read, true);
    if (hr != S_OK) return hr;
    *value = read;
    return FOTEX_OK;
}

extern "C" int FOTEX_CALL SetSetting(FOTEX_DEVICE device, int property_id, int value) {
    if (device == 0) return FOTEX_E_HANDLE;
    Reading r;
    HRESULT hr = r.Read(device, property_id);
    if (hr != S_OK) return hr;
    int current = 0;
    hr = IntValue(r.value[0], &current, true);
    if (hr == FOTEX_E_OVERFLOW) hr = S_OK;  // a 64-bit property whose value is large still takes an int
    if (hr != S_OK) return hr;

    ULONG flags = 0;
    PropVariants<1> attribute;
    hr = r.Ask(attribute, &flags);
    if (hr != S_OK) return hr;
    if (!(flags & wia::kPropWrite)) return FOTEX_E_ACCESS_DENIED;
    Choices choices = DecodeChoices(flags, attribute[0]);
    const VARTYPE type = r.value[0].vt;
    choices.isUnsigned |= type == VT_UI4 || type == VT_UINT;
    // Sent in the property's own type, as the service checks it.
    PROPVARIANT written{};
    if (!InTypeOf(type, value, &written) || !choices.Admits(value)) return FOTEX_E_VALUE;
    return Status(r.Write(written));
}

extern "C" int FOTEX_CALL GetSettingText(FOTEX_DEVICE device, int property_id, void* text, int bytes) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (text == nullptr) return FOTEX_E_POINTER;
    Reading r;
    const HRESULT hr = r.Read(device, property_id);
    if (hr != S_OK) return hr;
    const PROPVARIANT& v = r.value[0];
    if (v.vt == VT_EMPTY) return FOTEX_E_NOT_FOUND;
    if (!IsText(v)) return FOTEX_E_TYPE;
    // A BSTR's length bounds the walk; the text ends at its first NUL, as the host will read it.
    const WCHAR* s = v.vt == VT_BSTR ? v.bstrVal : v.pwszVal;
    const size_t limit = v.vt == VT_BSTR && s != nullptr ? SysStringLen(v.bstrVal) : static_cast<size_t>(-1);
    size_t units = 0;
    if (s != nullptr)
        while (units < limit && s[units] != 0) ++units;
    return PutUtf16(text, bytes, s, units);
}

extern "C" int FOTEX_CALL SetSettingText(FOTEX_DEVICE device, int property_id, const wchar_t* text) {
    if (device == 0) return FOTEX_E_HANDLE;
    if (text == nullptr) return FOTEX_E_POINTER;
    Reading r;
    HRESULT hr = r.Read(device, property_id);
    if (hr != S_OK) return hr;
    if (r.value[0].vt == VT_EMPTY) return FOTEX_E_NOT_FOUND;
    if (!IsText(r.value[0])) return FOTEX_E_TYPE;

    ULONG flags = 0;
    PropVariants<1> attribute;
    hr = r.Ask(attribute, &flags);
    if (hr != S_OK) return hr;
    if (!(flags & wia::kPropWrite)) return FOTEX_E_ACCESS_DENIED;

    Bstr string(text);
    if (!string) return E_OUTOFMEMORY;
    PROPVARIANT written{};
    written.vt = VT_BSTR;
    written.bstrVal = string.get();
    return Status(r.Write(written));
}
