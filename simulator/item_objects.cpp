// The service's COM objects. Each is a small class over one mingw <wia.h> interface with a
// reference count that the ledger sees; every counted operation passes Core::Faulted first.
#include "sim_internal.h"

#include <algorithm>
#include <cstring>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

template <class I>
class Object : public I, public Tracked {
public:
    Object(std::shared_ptr<Core> c, const char* k, std::wstring l) : Tracked(std::move(c), k, std::move(l)) {}
    ULONG WINAPI AddRef() override { return ++refs; }
    ULONG WINAPI Release() override {
        ULONG r = --refs;
        if (r == 0 && !stray) delete this;
        return r;
    }

protected:
    // QueryInterface for IUnknown and the object's own interface.
    HRESULT Self(REFIID riid, const GUID& own, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != own) return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
};

template <class T>
void Clear(T** pp) {
    if (pp) *pp = nullptr;
}

// What a dirty failure leaves in an item slot.
std::shared_ptr<Item> StrayItem() {
    auto item = std::make_shared<Item>();
    item->name = L"stray";
    return item;
}

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

// --- property storage ------------------------------------------------------------------------

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

// --- device-information enumerator ----------------------------------------------------------

struct DevInfo {
    std::shared_ptr<PropertyMap> info;
    std::wstring id;
};
using DevInfoList = std::shared_ptr<const std::vector<DevInfo>>;

class EnumDevInfo final : public Object<IEnumWIA_DEV_INFO> {
public:
    EnumDevInfo(std::shared_ptr<Core> c, DevInfoList list, ULONG pos, bool endless = false)
        : Object(std::move(c), "EnumDevInfo", L""), list_(std::move(list)), pos_(pos), endless_(endless) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IEnumWIA_DEV_INFO, ppv);
    }

    HRESULT WINAPI Next(ULONG n, IWiaPropertyStorage** out, ULONG* fetched) override {
        HRESULT hr;
        if (fetched) *fetched = 0;
        if (out)
            for (ULONG i = 0; i < n; ++i) out[i] = nullptr;
        if (core->Faulted(Op::DevInfoNext, &hr)) {
            if (hr != S_OK && n > 0)
                core->LeaveStray(out, [this] { return new PropStorage(core, std::make_shared<PropertyMap>(), L"stray"); });
            return hr;
        }
        if (!out) return E_POINTER;
        if (n > 1 && !fetched) return E_INVALIDARG;
        ULONG got = 0;
        while (got < n && pos_ < list_->size()) {
            const DevInfo& d = (*list_)[pos_++];
            if (endless_ && pos_ == list_->size()) pos_ = 0;
            out[got++] = new PropStorage(core, d.info, d.id);
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Skip(ULONG n) override {
        ULONG left = static_cast<ULONG>(list_->size()) - pos_;
        pos_ += std::min(n, left);
        return n <= left ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Reset() override {
        HRESULT hr;
        if (core->Faulted(Op::DevInfoReset, &hr)) return hr;
        pos_ = 0;
        return S_OK;
    }

    HRESULT WINAPI Clone(IEnumWIA_DEV_INFO** pp) override {
        if (!pp) return E_POINTER;
        *pp = new EnumDevInfo(core, list_, pos_);
        return S_OK;
    }

    HRESULT WINAPI GetCount(ULONG* count) override {
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(list_->size());
        return S_OK;
    }

private:
    DevInfoList list_;
    ULONG pos_;
    bool endless_;
};

// --- capability enumerator -------------------------------------------------------------------

using CapList = std::shared_ptr<const std::vector<Capability>>;

class EnumCaps final : public Object<IEnumWIA_DEV_CAPS> {
public:
    EnumCaps(std::shared_ptr<Core> c, DeviceRef dev, CapList caps, ULONG pos)
        : Object(std::move(c), "EnumCaps", L""), dev_(std::move(dev)), caps_(std::move(caps)), pos_(pos) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IEnumWIA_DEV_CAPS, ppv);
    }

    HRESULT WINAPI Next(ULONG n, WIA_DEV_CAP* out, ULONG* fetched) override {
        HRESULT hr;
        if (fetched) *fetched = 0;
        if (out) std::memset(out, 0, sizeof(WIA_DEV_CAP) * n);
        if (core->Stop(Op::CapsNext, dev_, nullptr, &hr)) {
            if (core->dirty && out && n > 0) {
                out[0].guid = wia::WIA_CMD_TAKE_PICTURE;
                out[0].bstrName = core->StrayString();
            }
            return hr;
        }
        if (!out) return E_POINTER;
        if (n > 1 && !fetched) return E_INVALIDARG;
        ULONG got = 0;
        while (got < n && pos_ < caps_->size()) {
            const Capability& c = (*caps_)[pos_++];
            WIA_DEV_CAP& r = out[got++];
            r.guid = c.command;
            r.ulFlags = static_cast<ULONG>(c.flags);
            r.bstrName = SysAllocString(c.name.c_str());
            r.bstrDescription = SysAllocString(c.description.c_str());
            r.bstrIcon = SysAllocString(c.icon.c_str());
            r.bstrCommandline = SysAllocString(c.commandline.c_str());
            for (BSTR b : {r.bstrName, r.bstrDescription, r.bstrIcon, r.bstrCommandline})
                if (b) ++core->stringsOut;
        }
        if (fetched) *fetched = got;
        return got == n ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Skip(ULONG n) override {
        HRESULT hr;
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        ULONG left = static_cast<ULONG>(caps_->size()) - pos_;
        pos_ += std::min(n, left);
        return n <= left ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Reset() override {
        HRESULT hr;
        if (core->Stop(Op::CapsReset, dev_, nullptr, &hr)) return hr;
        pos_ = 0;
        return S_OK;
    }

    HRESULT WINAPI Clone(IEnumWIA_DEV_CAPS** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        if (!pp) return E_POINTER;
        *pp = new EnumCaps(core, dev_, caps_, pos_);
        return S_OK;
    }

    HRESULT WINAPI GetCount(ULONG* count) override {
        HRESULT hr;
        if (count) *count = 0;
        if (core->Stop(Op::CapsGetCount, dev_, nullptr, &hr)) return hr;
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(caps_->size());
        return S_OK;
    }

private:
    DeviceRef dev_;
    CapList caps_;
    ULONG pos_;
};

// --- data transfer ---------------------------------------------------------------------------

class DataTransfer final : public Object<IWiaDataTransfer> {
public:
    DataTransfer(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item)
        : Object(std::move(c), "DataTransfer", item->name), dev_(std::move(dev)), item_(std::move(item)) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IWiaDataTransfer, ppv);
    }

    HRESULT WINAPI idtGetData(LPSTGMEDIUM medium, IWiaDataCallback* callback) override {
        HRESULT hr;
        if (core->Stop(Op::GetData, dev_, item_.get(), &hr)) return hr;
        if (!medium) return E_INVALIDARG;
        const PropertyMap& props = item_->props;
        auto format = props.find(wia::kIpaFormat);
        auto tymed = props.find(wia::kIpaTymed);
        bool hasFormat = format != props.end() && format->second.value.type == VT_CLSID;

        auto& g = core->last().getData;
        g.tymed = medium->tymed;
        g.fileNameNull = medium->lpszFileName == nullptr;
        g.fileName = medium->lpszFileName ? medium->lpszFileName : L"";
        g.callback = callback != nullptr;
        g.releaseObject = medium->pUnkForRelease != nullptr;
        g.format = hasFormat ? format->second.value.guid : GUID{};

        // The medium comes from the item's property, not from the record's own tymed member.
        if (tymed == props.end() || tymed->second.value.type != VT_I4 ||
            tymed->second.value.i != TYMED_FILE)
            return E_INVALIDARG;
        if (!hasFormat || !AcceptsFormat(*item_, format->second.value.guid)) return E_INVALIDARG;
        if (!medium->lpszFileName) return E_INVALIDARG;
        const bool cut = core->cutAt == core->seq[static_cast<int>(Op::GetData)];
        hr = WriteItemFile(*item_, format->second.value.guid, medium->lpszFileName);
        if (!cut || hr != S_OK) return hr;
        HANDLE file = CreateFileW(medium->lpszFileName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        LARGE_INTEGER size{};
        if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size)) {
            size.QuadPart /= 2;
            SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
            SetEndOfFile(file);
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return core->cutHr;
    }

    HRESULT WINAPI idtGetBandedData(PWIA_DATA_TRANSFER_INFO, IWiaDataCallback*) override { return E_NOTIMPL; }
    HRESULT WINAPI idtQueryGetData(WIA_FORMAT_INFO*) override { return E_NOTIMPL; }
    HRESULT WINAPI idtEnumWIA_FORMAT_INFO(IEnumWIA_FORMAT_INFO** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI idtGetExtendedTransferInfo(PWIA_EXTENDED_TRANSFER_INFO) override { return E_NOTIMPL; }

private:
    DeviceRef dev_;
    std::shared_ptr<Item> item_;
};

// --- items -----------------------------------------------------------------------------------

class ItemObject;
using ItemList = std::shared_ptr<const std::vector<std::shared_ptr<Item>>>;

class EnumItems final : public Object<IEnumWiaItem> {
public:
    EnumItems(std::shared_ptr<Core> c, DeviceRef dev, ItemList items, ULONG pos, bool endless = false)
        : Object(std::move(c), "EnumItem", L""), dev_(std::move(dev)), items_(std::move(items)), pos_(pos),
          endless_(endless) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IEnumWiaItem, ppv);
    }

    HRESULT WINAPI Next(ULONG n, IWiaItem** out, ULONG* fetched) override;

    HRESULT WINAPI Skip(ULONG n) override {
        HRESULT hr;
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        ULONG left = static_cast<ULONG>(items_->size()) - pos_;
        pos_ += std::min(n, left);
        return n <= left ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Reset() override {
        HRESULT hr;
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        pos_ = 0;
        return S_OK;
    }

    HRESULT WINAPI Clone(IEnumWiaItem** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        if (!pp) return E_POINTER;
        *pp = new EnumItems(core, dev_, items_, pos_);
        return S_OK;
    }

    HRESULT WINAPI GetCount(ULONG* count) override {
        HRESULT hr;
        if (count) *count = 0;
        if (core->Unavailable(dev_, nullptr, &hr)) return hr;
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(items_->size());
        return S_OK;
    }

private:
    DeviceRef dev_;
    ItemList items_;
    ULONG pos_;
    bool endless_;
};

class ItemObject final : public Object<IWiaItem> {
public:
    ItemObject(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item)
        : Object(std::move(c), "Item", item->name), dev_(std::move(dev)), item_(std::move(item)) {}
    ~ItemObject() override {
        if (item_->handedOut.object == this) item_->handedOut.object = nullptr;
    }

    // The item's live object with a new reference, or a new one that later calls hand out again.
    static IWiaItem* For(std::shared_ptr<Core> c, const DeviceRef& dev, std::shared_ptr<Item> item) {
        if (IWiaItem* live = item->handedOut.object) {
            live->AddRef();
            return live;
        }
        auto* made = new ItemObject(std::move(c), dev, item);
        item->handedOut.object = made;
        return made;
    }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        HRESULT hr;
        if (riid == wia::IID_IWiaPropertyStorage) {
            Clear(ppv);
            if (core->Stop(Op::QueryPropertyStorage, dev_, item_.get(), &hr)) {
                if (FAILED(hr))
                    core->LeaveStray(reinterpret_cast<IWiaPropertyStorage**>(ppv),
                                     [this] { return new PropStorage(core, dev_, StrayItem()); });
                return hr;
            }
            if (!ppv) return E_POINTER;
            *ppv = static_cast<IWiaPropertyStorage*>(new PropStorage(core, dev_, item_));
            return S_OK;
        }
        if (riid == wia::IID_IWiaDataTransfer) {
            Clear(ppv);
            if (core->Stop(Op::QueryDataTransfer, dev_, item_.get(), &hr)) {
                if (FAILED(hr))
                    core->LeaveStray(reinterpret_cast<IWiaDataTransfer**>(ppv),
                                     [this] { return new DataTransfer(core, dev_, StrayItem()); });
                return hr;
            }
            if (!ppv) return E_POINTER;
            // A folder, the root among them, holds no data of its own.
            if (item_->type & wia::kItemTypeFolder) return E_NOINTERFACE;
            *ppv = static_cast<IWiaDataTransfer*>(new DataTransfer(core, dev_, item_));
            return S_OK;
        }
        return Self(riid, wia::IID_IWiaItem, ppv);
    }

    HRESULT WINAPI GetItemType(LONG* type) override {
        HRESULT hr;
        if (type) *type = 0;
        if (core->Stop(Op::GetItemType, dev_, item_.get(), &hr)) {
            if (FAILED(hr) && core->dirty && type) *type = -1;  // every flag
            return hr;
        }
        if (!type) return E_INVALIDARG;
        *type = item_->type;
        return S_OK;
    }

    HRESULT WINAPI EnumChildItems(IEnumWiaItem** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Stop(Op::EnumChildItems, dev_, item_.get(), &hr)) {
            if (FAILED(hr))
                core->LeaveStray(pp, [this] {
                    return new EnumItems(core, dev_, std::make_shared<std::vector<std::shared_ptr<Item>>>(), 0);
                });
            return hr;
        }
        if (!pp) return E_POINTER;
        auto items = std::make_shared<std::vector<std::shared_ptr<Item>>>();
        items->reserve(item_->children.size());
        for (const auto& c : item_->children)
            if (c && !c->deleted) items->push_back(c);
        const bool endless = item_->endless && !items->empty();
        *pp = new EnumItems(core, dev_, std::move(items), 0, endless);
        return S_OK;
    }

    HRESULT WINAPI DeleteItem(LONG flags) override {
        HRESULT hr;
        if (core->Stop(Op::DeleteItem, dev_, item_.get(), &hr)) return hr;
        core->last().deleteFlags = flags;
        if (item_ == dev_.root) return E_INVALIDARG;  // the device itself cannot be deleted
        Device* device = core->Locate(dev_);
        const std::wstring name = FullItemName(*device, *item_);
        DetachItem(*item_);
        core->Raise(wia::WIA_EVENT_ITEM_DELETED, *device, name);
        return S_OK;
    }

    HRESULT WINAPI DeviceCommand(LONG flags, const GUID* command, IWiaItem** out) override {
        HRESULT hr;
        Clear(out);
        if (core->Stop(Op::DeviceCommand, dev_, item_.get(), &hr)) {
            if (FAILED(hr)) core->LeaveStray(out, [this] { return new ItemObject(core, dev_, StrayItem()); });
            return hr;
        }
        auto& last = core->last().command;
        last.flags = flags;
        last.command = command ? *command : GUID{};
        last.itemOut = out != nullptr;
        if (!command) return E_INVALIDARG;
        Device* device = core->Locate(dev_);
        const auto& caps = device->capabilities;
        bool offered = std::any_of(caps.begin(), caps.end(),
                                   [command](const Capability& c) { return c.command == *command; });
        if (!offered) return E_INVALIDARG;
        if (*command == wia::WIA_CMD_TAKE_PICTURE) {
            std::shared_ptr<Item> picture = TakeNewPicture(*core, *device);
            if (out) *out = ItemObject::For(core, dev_, std::move(picture));
            return S_OK;
        }
        if (*command == wia::WIA_CMD_DELETE_ALL_ITEMS) {
            DeleteAllMedia(*dev_.root);
            core->Raise(wia::WIA_EVENT_TREE_UPDATED, *device, L"");
            return S_OK;
        }
        if (*command == wia::WIA_CMD_SYNCHRONIZE) return S_OK;
        return E_INVALIDARG;
    }

    HRESULT WINAPI EnumDeviceCapabilities(LONG flags, IEnumWIA_DEV_CAPS** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Stop(Op::EnumDeviceCapabilities, dev_, item_.get(), &hr)) {
            if (FAILED(hr))
                core->LeaveStray(pp, [this] {
                    return new EnumCaps(core, dev_, std::make_shared<std::vector<Capability>>(), 0);
                });
            return hr;
        }
        core->last().capsFlag = flags;
        if (!pp) return E_POINTER;
        auto caps = std::make_shared<std::vector<Capability>>();
        // Every capability here is a command; events are never offered.
        if (flags & wia::kDeviceCommands) *caps = core->Locate(dev_)->capabilities;
        *pp = new EnumCaps(core, dev_, std::move(caps), 0);
        return S_OK;
    }

    HRESULT WINAPI GetRootItem(IWiaItem** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Unavailable(dev_, item_.get(), &hr)) return hr;
        if (!pp) return E_POINTER;
        *pp = new ItemObject(core, dev_, dev_.root);
        return S_OK;
    }

    HRESULT WINAPI AnalyzeItem(LONG) override { return E_NOTIMPL; }
    HRESULT WINAPI CreateChildItem(LONG, BSTR, BSTR, IWiaItem** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI EnumRegisterEventInfo(LONG, const GUID*, IEnumWIA_DEV_CAPS** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI FindItemByName(LONG, BSTR fullName, IWiaItem** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Stop(Op::FindItemByName, dev_, item_.get(), &hr)) return hr;
        if (!fullName) return E_INVALIDARG;
        if (!pp) return E_POINTER;
        std::shared_ptr<Item> found = FindByFullName(*core->Locate(dev_), fullName);
        if (!found) return S_FALSE;
        *pp = ItemObject::For(core, dev_, std::move(found));
        return S_OK;
    }
    HRESULT WINAPI DeviceDlg(HWND, LONG, LONG, LONG*, IWiaItem***) override { return E_NOTIMPL; }
    HRESULT WINAPI DumpItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI DumpDrvItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI DumpTreeItemData(BSTR*) override { return E_NOTIMPL; }
    HRESULT WINAPI Diagnostic(ULONG, BYTE*) override { return E_NOTIMPL; }

private:
    DeviceRef dev_;
    std::shared_ptr<Item> item_;
};

HRESULT EnumItems::Next(ULONG n, IWiaItem** out, ULONG* fetched) {
    HRESULT hr;
    if (fetched) *fetched = 0;
    if (out)
        for (ULONG i = 0; i < n; ++i) out[i] = nullptr;
    if (core->Stop(Op::ItemNext, dev_, nullptr, &hr)) {
        if (hr != S_OK && n > 0) core->LeaveStray(out, [this] { return new ItemObject(core, dev_, StrayItem()); });
        return hr;
    }
    if (!out) return E_POINTER;
    if (n > 1 && !fetched) return E_INVALIDARG;
    ULONG got = 0;
    size_t skipped = 0;
    while (got < n && pos_ < items_->size()) {
        const auto& item = (*items_)[pos_++];
        if (endless_ && pos_ == items_->size()) pos_ = 0;
        // Deleted since the snapshot; an endless list of deleted items still ends.
        if (item->deleted) {
            if (++skipped > items_->size()) break;
            continue;
        }
        out[got++] = ItemObject::For(core, dev_, item);
    }
    if (fetched) *fetched = got;
    return got == n ? S_OK : S_FALSE;
}

// --- device manager --------------------------------------------------------------------------

class DevMgr final : public Object<IWiaDevMgr> {
public:
    explicit DevMgr(std::shared_ptr<Core> c) : Object(std::move(c), "DevMgr", L"") {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IWiaDevMgr, ppv);
    }

    HRESULT WINAPI EnumDeviceInfo(LONG flag, IEnumWIA_DEV_INFO** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Faulted(Op::EnumDeviceInfo, &hr)) {
            if (FAILED(hr))
                core->LeaveStray(pp, [this] {
                    return new EnumDevInfo(core, std::make_shared<std::vector<DevInfo>>(), 0);
                });
            return hr;
        }
        core->last().enumDeviceInfoFlag = flag;
        if (!pp) return E_POINTER;
        auto list = std::make_shared<std::vector<DevInfo>>();
        if (core->camera) {
            list->reserve(core->camera->devices.size());
            for (const Device& d : core->camera->devices)
                list->push_back({std::make_shared<PropertyMap>(d.info), d.id});
        }
        const bool endless = core->camera && core->camera->endlessDevices && !list->empty();
        *pp = new EnumDevInfo(core, std::move(list), 0, endless);
        return S_OK;
    }

    HRESULT WINAPI CreateDevice(BSTR id, IWiaItem** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Faulted(Op::CreateDevice, &hr)) {
            if (FAILED(hr)) core->LeaveStray(pp, [this] { return new ItemObject(core, DeviceRef{}, StrayItem()); });
            return hr;
        }
        core->last().createDeviceId = id ? id : L"";
        if (!id) return E_INVALIDARG;
        if (!pp) return E_POINTER;
        if (!core->camera) return kNoDevice;
        auto& devices = core->camera->devices;
        for (size_t i = 0; i < devices.size(); ++i) {
            Device& d = devices[i];
            if (d.id != id) continue;
            if (!d.present || !d.root) return kNoDevice;
            *pp = new ItemObject(core, DeviceRef{d.root, i}, d.root);
            return S_OK;
        }
        return kNoDevice;
    }

    HRESULT WINAPI GetImageDlg(HWND parent, LONG deviceType, LONG flags, LONG intent,
                               IWiaItem* root, BSTR fileName, GUID* format) override {
        HRESULT hr;
        if (core->Faulted(Op::GetImageDlg, &hr)) return hr;
        auto& d = core->last().dialog;
        d.parent = parent;
        d.deviceType = deviceType;
        d.flags = flags;
        d.intent = intent;
        d.root = root;
        d.fileNameNull = fileName == nullptr;
        d.fileName = fileName ? fileName : L"";
        d.formatNull = format == nullptr;
        d.format = format ? *format : GUID{};
        HRESULT result = core->camera ? core->camera->dialogResult : S_OK;
        if (result != S_OK) return result;
        if (!fileName) return E_INVALIDARG;
        return WriteDialogPicture(static_cast<uint32_t>(core->created), fileName);
    }

    HRESULT WINAPI SelectDeviceDlg(HWND, LONG, LONG, BSTR* id, IWiaItem** pp) override {
        Clear(id);
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI SelectDeviceDlgID(HWND, LONG, LONG, BSTR* id) override {
        Clear(id);
        return E_NOTIMPL;
    }
    HRESULT WINAPI RegisterEventCallbackProgram(LONG, BSTR, const GUID*, BSTR, BSTR, BSTR, BSTR) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI RegisterEventCallbackInterface(LONG flags, BSTR deviceId, const GUID* event,
                                                  IWiaEventCallback* callback, IUnknown** pp) override {
        HRESULT hr;
        Clear(pp);
        if (core->Faulted(Op::RegisterEventCallback, &hr)) {
            if (FAILED(hr))
                core->LeaveStray(pp, [this] { return new PropStorage(core, std::make_shared<PropertyMap>(), L"stray"); });
            return hr;
        }
        auto& last = core->last().registration;
        last.flags = flags;
        last.deviceIdNull = deviceId == nullptr;
        last.deviceId = deviceId ? deviceId : L"";
        if (event && core->logging) last.events.push_back(*event);
        if (!event || !callback) return E_INVALIDARG;
        if (!pp) return E_POINTER;
        std::shared_ptr<EventLink> link = Subscribe(core, *event, deviceId, callback, &hr);
        if (!link) return hr;
        *pp = NewEventRegistration(core, std::move(link));
        return S_OK;
    }
    HRESULT WINAPI RegisterEventCallbackCLSID(LONG, BSTR, const GUID*, const GUID*, BSTR, BSTR, BSTR) override {
        return E_NOTIMPL;
    }
    HRESULT WINAPI AddDeviceDlg(HWND, LONG) override { return E_NOTIMPL; }
};

// --- event registration ----------------------------------------------------------------------

class EventRegistration final : public Object<IUnknown> {
public:
    EventRegistration(std::shared_ptr<Core> c, std::shared_ptr<EventLink> link)
        : Object(std::move(c), "EventRegistration", L""), link_(std::move(link)) {}
    ~EventRegistration() override { Unsubscribe(*core, link_); }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override { return Self(riid, IID_IUnknown, ppv); }

private:
    std::shared_ptr<EventLink> link_;
};

// --- class factory ---------------------------------------------------------------------------

class ClassFactory final : public IClassFactory {
public:
    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG WINAPI Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return static_cast<ULONG>(r);
    }

    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        Camera* camera = Camera::Current();
        if (!camera) return CO_E_SERVER_STOPPING;
        const std::shared_ptr<Core>& core = camera->state().core;
        HRESULT hr;
        if (core->Faulted(Op::CreateInstance, &hr)) {
            if (FAILED(hr)) core->LeaveStray(reinterpret_cast<IWiaDevMgr**>(ppv), [&core] { return new DevMgr(core); });
            return hr;
        }
        if (camera->factoryResult != S_OK) return camera->factoryResult;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* mgr = new DevMgr(core);
        hr = mgr->QueryInterface(riid, ppv);
        mgr->Release();
        return hr;
    }

    HRESULT WINAPI LockServer(BOOL) override { return S_OK; }

private:
    LONG refs_ = 1;
};

}  // namespace

IClassFactory* NewClassFactory() { return new ClassFactory(); }

IUnknown* NewEventRegistration(std::shared_ptr<Core> core, std::shared_ptr<EventLink> link) {
    return new EventRegistration(std::move(core), std::move(link));
}

}  // namespace fotexsim
