// The service's property storage: an item's properties, or a device-information snapshot, read
// and written by COM's rules. Every counted operation passes Core::Faulted first.
#include "objects.h"

#include <algorithm>
#include <cstring>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

bool ToValue(const PROPVARIANT& v, Value* out) {
    switch (v.vt) {
    case VT_I4:
        *out = Value::Int(v.lVal);
        return true;
    case VT_UI4:
        *out = Value::UInt(v.ulVal);
        return true;
    case VT_UI2:
        *out = Value::UShort(v.uiVal);
        return true;
    case VT_I8:
        *out = Value::Int64(v.hVal.QuadPart);
        return true;
    case VT_BSTR:
        *out = v.bstrVal ? Value::Text(std::wstring(v.bstrVal, SysStringLen(v.bstrVal))) : Value::NullText();
        return true;
    case VT_CLSID:
        if (!v.puuid) return false;
        *out = Value::Guid(*v.puuid);
        return true;
    case VT_VECTOR | VT_UI2:
        *out = Value::Words(std::vector<uint16_t>(v.caui.pElems, v.caui.pElems + v.caui.cElems));
        return true;
    case VT_VECTOR | VT_UI1:
        *out = Value::Bytes(std::vector<uint8_t>(v.caub.pElems, v.caub.pElems + v.caub.cElems));
        return true;
    default:
        return false;
    }
}

// A vector's elements in CoTaskMem, as PropVariantClear frees them.
template <class T>
T* CopyElements(const std::vector<T>& from) {
    auto* to = static_cast<T*>(CoTaskMemAlloc(from.empty() ? 1 : from.size() * sizeof(T)));
    if (to && !from.empty()) std::memcpy(to, from.data(), from.size() * sizeof(T));
    return to;
}

// Copies by COM's rules: the caller frees what it gets with PropVariantClear.
bool FromValue(const Value& value, PROPVARIANT* v) {
    PropVariantInit(v);
    switch (value.type) {
    case VT_I4:
        v->vt = VT_I4;
        v->lVal = value.i;
        return true;
    case VT_UI4:
        v->vt = VT_UI4;
        v->ulVal = static_cast<ULONG>(value.i);
        return true;
    case VT_UI2:
        v->vt = VT_UI2;
        v->uiVal = static_cast<USHORT>(value.i);
        return true;
    case VT_I8:
        v->vt = VT_I8;
        v->hVal.QuadPart = value.l;
        return true;
    case VT_UI8:
        v->vt = VT_UI8;
        v->uhVal.QuadPart = static_cast<ULONGLONG>(value.l);
        return true;
    case VT_I1:
        v->vt = VT_I1;
        v->cVal = static_cast<CHAR>(value.i);
        return true;
    case VT_UI1:
        v->vt = VT_UI1;
        v->bVal = static_cast<BYTE>(value.i);
        return true;
    case VT_I2:
        v->vt = VT_I2;
        v->iVal = static_cast<SHORT>(value.i);
        return true;
    case VT_INT:
        v->vt = VT_INT;
        v->intVal = value.i;
        return true;
    case VT_UINT:
        v->vt = VT_UINT;
        v->uintVal = static_cast<UINT>(value.i);
        return true;
    case VT_BSTR:
        v->vt = VT_BSTR;
        if (value.nullString) return true;
        v->bstrVal = SysAllocStringLen(value.s.data(), static_cast<UINT>(value.s.size()));
        return v->bstrVal != nullptr;
    case VT_CLSID: {
        auto* g = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
        if (!g) return false;
        *g = value.guid;
        v->vt = VT_CLSID;
        v->puuid = g;
        return true;
    }
    case VT_VECTOR | VT_UI2:
        v->caui.pElems = CopyElements(value.words);
        if (!v->caui.pElems) return false;
        v->caui.cElems = static_cast<ULONG>(value.words.size());
        v->vt = VT_VECTOR | VT_UI2;
        return true;
    case VT_VECTOR | VT_UI1:
        v->caub.pElems = CopyElements(value.bytes);
        if (!v->caub.pElems) return false;
        v->caub.cElems = static_cast<ULONG>(value.bytes.size());
        v->vt = VT_VECTOR | VT_UI1;
        return true;
    default:
        return true;  // VT_EMPTY
    }
}

class PropStorage final : public Object<IWiaPropertyStorage> {
public:
    // Over an item's properties, bound to its device.
    PropStorage(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item)
        : Object(std::move(c), "ItemStorage", item->name),
          keep_(item), map_(&item->props), item_(item.get()), dev_(std::move(dev)), bound_(true) {}
    // Over a device-information snapshot; the manager's, so it works while the device is offline.
    PropStorage(std::shared_ptr<Core> c, std::shared_ptr<PropertyMap> info, std::wstring id)
        : Object(std::move(c), "DevInfoStorage", std::move(id)), keep_(info), map_(info.get()) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IWiaPropertyStorage, ppv);
    }

    HRESULT WINAPI ReadMultiple(ULONG n, const PROPSPEC specs[], PROPVARIANT values[]) override {
        HRESULT hr;
        if (values)
            for (ULONG i = 0; i < n; ++i) PropVariantInit(&values[i]);
        if (Stop(Op::ReadMultiple, &hr)) {
            if (FAILED(hr) && core->dirty && values)
                for (ULONG i = 0; i < n; ++i) {
                    values[i].vt = VT_BSTR;
                    values[i].bstrVal = core->StrayString();
                }
            return hr;
        }
        if (n && (!specs || !values)) return E_INVALIDARG;
        auto& read = core->last().read;
        read.clear();
        bool found = false;
        for (ULONG i = 0; i < n; ++i) {
            if (specs[i].ulKind != PRSPEC_PROPID) continue;  // names are never assigned here
            read.push_back(specs[i].propid);
            auto it = map_->find(specs[i].propid);
            Value computed;
            const Value* value = nullptr;
            if (it != map_->end())
                value = &it->second.value;
            else if (item_ && ComputedProperty(core->Locate(dev_), *item_, specs[i].propid, &computed))
                value = &computed;
            if (!value) continue;
            if (!FromValue(*value, &values[i])) {
                FreePropVariantArray(i + 1, values);
                return E_OUTOFMEMORY;
            }
            if (values[i].vt == VT_BSTR && values[i].bstrVal) ++core->stringsOut;
            found = true;
        }
        ++core->valuesOut;
        return found ? S_OK : S_FALSE;
    }

    HRESULT WINAPI WriteMultiple(ULONG n, const PROPSPEC specs[], const PROPVARIANT values[],
                                 PROPID nameFirst) override {
        HRESULT hr;
        if (Stop(Op::WriteMultiple, &hr)) return hr;
        if (n && (!specs || !values)) return E_INVALIDARG;
        auto& write = core->last().write;
        write.specs.assign(specs, specs + n);
        write.values.assign(n, Value{});
        write.nameFirst = nameFirst;
        for (ULONG i = 0; i < n; ++i) {
            if (write.specs[i].ulKind == PRSPEC_LPWSTR) write.specs[i].lpwstr = nullptr;
            ToValue(values[i], &write.values[i]);
        }
        // Nothing is stored unless every entry is acceptable.
        for (ULONG i = 0; i < n; ++i) {
            if (specs[i].ulKind != PRSPEC_PROPID) return E_INVALIDARG;
            auto it = map_->find(specs[i].propid);
            if (it == map_->end()) return E_INVALIDARG;
            const Property& p = it->second;
            if (p.readOnly) return E_ACCESSDENIED;
            Value v;
            if (!ToValue(values[i], &v)) return E_INVALIDARG;
            VARTYPE expected = p.writeType != VT_EMPTY ? p.writeType : p.value.type;
            if (expected != VT_EMPTY && v.type != expected) return E_INVALIDARG;
            if ((v.type == VT_I4 || v.type == VT_UI4 || v.type == VT_UI2) && !p.Accepts(v.i)) return E_INVALIDARG;
            if (item_ && specs[i].propid == wia::kIpaFormat &&
                (v.type != VT_CLSID || !AcceptsFormat(*item_, v.guid)))
                return E_INVALIDARG;
        }
        for (ULONG i = 0; i < n; ++i) ToValue(values[i], &(*map_)[specs[i].propid].value);
        return S_OK;
    }

    HRESULT WINAPI GetCount(ULONG* count) override {
        HRESULT hr;
        if (count) *count = 0;
        if (bound_ && core->Unavailable(dev_, item_, &hr)) return hr;
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(map_->size());
        return S_OK;
    }

    HRESULT WINAPI DeleteMultiple(ULONG, const PROPSPEC[]) override { return E_NOTIMPL; }
    HRESULT WINAPI ReadPropertyNames(ULONG, const PROPID[], LPOLESTR[]) override { return E_NOTIMPL; }
    HRESULT WINAPI WritePropertyNames(ULONG, const PROPID[], const LPOLESTR[]) override { return E_NOTIMPL; }
    HRESULT WINAPI DeletePropertyNames(ULONG, const PROPID[]) override { return E_NOTIMPL; }
    HRESULT WINAPI Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT WINAPI Revert() override { return E_NOTIMPL; }
    HRESULT WINAPI Enum(IEnumSTATPROPSTG** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetTimes(const FILETIME*, const FILETIME*, const FILETIME*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetClass(REFCLSID) override { return E_NOTIMPL; }
    HRESULT WINAPI Stat(STATPROPSETSTG*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetPropertyAttributes(ULONG n, PROPSPEC specs[], ULONG flags[], PROPVARIANT values[]) override {
        HRESULT hr;
        for (ULONG i = 0; i < n; ++i) {
            if (values) PropVariantInit(&values[i]);
            if (flags) flags[i] = 0;
        }
        if (Stop(Op::GetPropertyAttributes, &hr)) {
            if (FAILED(hr) && core->dirty && values && flags)
                for (ULONG i = 0; i < n; ++i) {
                    flags[i] = 0xFFFFFFFF;
                    values[i].vt = VT_BSTR;
                    values[i].bstrVal = core->StrayString();
                }
            return hr;
        }
        if (n && (!specs || !flags || !values)) return E_INVALIDARG;
        bool found = false;
        for (ULONG i = 0; i < n; ++i) {
            if (specs[i].ulKind != PRSPEC_PROPID) continue;
            auto it = map_->find(specs[i].propid);
            if (it == map_->end()) continue;
            if (!Attributes(it->second, &flags[i], &values[i])) {
                FreePropVariantArray(n, values);
                return E_OUTOFMEMORY;
            }
            found = true;
        }
        ++core->valuesOut;
        return found ? S_OK : S_FALSE;
    }
    HRESULT WINAPI GetPropertyStream(GUID*, IStream** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetPropertyStream(GUID*, IStream*) override { return E_NOTIMPL; }

private:
    bool Stop(Op op, HRESULT* hr) {
        if (core->Faulted(op, hr)) return true;
        return bound_ && core->Unavailable(dev_, item_, hr);
    }

    // The documented layouts: a range is minimum, nominal, maximum, step; a list its count,
    // nominal and values; flags the nominal and the valid bits. In the property's integer type.
    static bool Attributes(const Property& p, ULONG* flags, PROPVARIANT* value) {
        *flags = wia::kPropRead | (p.readOnly ? 0 : wia::kPropWrite);
        const bool integer = p.value.type == VT_I4 || p.value.type == VT_UI4 || p.value.type == VT_UI2;
        std::vector<int32_t> parts;
        if (integer && !p.allowed.empty()) {
            *flags |= wia::kPropList;
            parts = {static_cast<int32_t>(p.allowed.size()), p.nominal};
            parts.insert(parts.end(), p.allowed.begin(), p.allowed.end());
        } else if (integer && p.range.on) {
            *flags |= wia::kPropRange;
            parts = {p.range.min, p.nominal, p.range.max, p.range.step};
        } else if (integer && p.flags.on) {
            *flags |= wia::kPropFlag;
            parts = {p.nominal, static_cast<int32_t>(p.flags.mask)};
        } else {
            *flags |= wia::kPropNone;
            return true;
        }
        value->cal.cElems = static_cast<ULONG>(parts.size());
        if (p.value.type == VT_UI2) {
            auto* narrow = static_cast<USHORT*>(CoTaskMemAlloc(parts.size() * sizeof(USHORT)));
            if (!narrow) return false;
            std::copy(parts.begin(), parts.end(), narrow);
            value->caui.pElems = narrow;
        } else {
            auto* elements = static_cast<LONG*>(CoTaskMemAlloc(parts.size() * sizeof(LONG)));
            if (!elements) return false;
            std::copy(parts.begin(), parts.end(), elements);
            value->cal.pElems = elements;
        }
        value->vt = VT_VECTOR | p.value.type;
        return true;
    }

    std::shared_ptr<void> keep_;
    PropertyMap* map_;
    Item* item_ = nullptr;
    DeviceRef dev_;
    bool bound_ = false;
};

}  // namespace

Object<IWiaPropertyStorage>* NewItemStorage(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item) {
    return new PropStorage(std::move(c), std::move(dev), std::move(item));
}

Object<IWiaPropertyStorage>* NewInfoStorage(std::shared_ptr<Core> c, std::shared_ptr<PropertyMap> info,
                                            std::wstring id) {
    return new PropStorage(std::move(c), std::move(info), std::move(id));
}

}  // namespace fotexsim
