// The service's items, with the data transfer and the enumerators they hand out. Every counted
// operation passes Core::Faulted first.
#include "objects.h"

#include <algorithm>
#include <cstring>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

// --- enumerators over a device's list -------------------------------------------------------

// A snapshot of one device's list, at a position. Every call finds the device online first;
// Halted is where an enumerator also counts its Reset and GetCount.
template <class Derived, class I, class T>
class DeviceListEnum : public Object<I> {
public:
    using List = std::shared_ptr<const std::vector<T>>;

    HRESULT WINAPI Skip(ULONG n) override {
        HRESULT hr;
        if (this->core->Unavailable(dev_, nullptr, &hr)) return hr;
        ULONG left = static_cast<ULONG>(list_->size()) - pos_;
        pos_ += std::min(n, left);
        return n <= left ? S_OK : S_FALSE;
    }

    HRESULT WINAPI Reset() override {
        HRESULT hr;
        if (Halted(true, &hr)) return hr;
        pos_ = 0;
        return S_OK;
    }

    HRESULT WINAPI Clone(I** pp) override {
        HRESULT hr;
        Clear(pp);
        if (this->core->Unavailable(dev_, nullptr, &hr)) return hr;
        if (!pp) return E_POINTER;
        *pp = new Derived(this->core, dev_, list_, pos_);
        return S_OK;
    }

    HRESULT WINAPI GetCount(ULONG* count) override {
        HRESULT hr;
        if (count) *count = 0;
        if (Halted(false, &hr)) return hr;
        if (!count) return E_POINTER;
        *count = static_cast<ULONG>(list_->size());
        return S_OK;
    }

protected:
    DeviceListEnum(std::shared_ptr<Core> c, const char* kind, DeviceRef dev, List list, ULONG pos)
        : Object<I>(std::move(c), kind, L""), dev_(std::move(dev)), list_(std::move(list)), pos_(pos) {}

    // Before Reset (`reset`) and GetCount.
    virtual bool Halted(bool /*reset*/, HRESULT* hr) { return this->core->Unavailable(dev_, nullptr, hr); }

    DeviceRef dev_;
    List list_;
    ULONG pos_;
};

// --- capability enumerator -------------------------------------------------------------------

using CapList = std::shared_ptr<const std::vector<Capability>>;

class EnumCaps final : public DeviceListEnum<EnumCaps, IEnumWIA_DEV_CAPS, Capability> {
public:
    EnumCaps(std::shared_ptr<Core> c, DeviceRef dev, CapList caps, ULONG pos)
        : DeviceListEnum(std::move(c), "EnumCaps", std::move(dev), std::move(caps), pos) {}

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
        while (got < n && pos_ < list_->size()) {
            const Capability& c = (*list_)[pos_++];
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

private:
    bool Halted(bool reset, HRESULT* hr) override {
        return core->Stop(reset ? Op::CapsReset : Op::CapsGetCount, dev_, nullptr, hr);
    }
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

        // The item's property chooses the medium and the record must name the same: a service
        // finds the file only in a TYMED_FILE record, the one form that carries the name across.
        if (tymed == props.end() || tymed->second.value.type != VT_I4 ||
            tymed->second.value.i != TYMED_FILE || medium->tymed != TYMED_FILE)
            return E_INVALIDARG;
        if (!hasFormat || !AcceptsFormat(*item_, format->second.value.guid)) return E_INVALIDARG;
        if (!medium->lpszFileName) return E_INVALIDARG;
        const bool cut = core->cutAt == core->seq[static_cast<int>(Op::GetData)];
        hr = WriteInSteps(format->second.value.guid, medium->lpszFileName, callback, Rate());
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

    HRESULT WINAPI idtGetBandedData(PWIA_DATA_TRANSFER_INFO info, IWiaDataCallback* callback) override {
        HRESULT hr;
        if (core->Stop(Op::GetBandedData, dev_, item_.get(), &hr)) return hr;
        auto& g = core->last().getData;
        g.callback = callback != nullptr;
        const PropertyMap& props = item_->props;
        auto format = props.find(wia::kIpaFormat);
        auto tymed = props.find(wia::kIpaTymed);
        const bool hasFormat = format != props.end() && format->second.value.type == VT_CLSID;
        g.format = hasFormat ? format->second.value.guid : GUID{};
        if (!info || !callback || info->ulSize != sizeof *info || info->ulBufferSize == 0) return E_INVALIDARG;
        if (tymed == props.end() || tymed->second.value.type != VT_I4 || tymed->second.value.i != TYMED_CALLBACK)
            return E_INVALIDARG;
        if (!hasFormat || !AcceptsFormat(*item_, format->second.value.guid)) return E_INVALIDARG;
        ItemSource source;
        hr = source.Open(*item_, format->second.value.guid);
        if (FAILED(hr)) return hr;
        Steps steps;
        steps.callback = callback;
        steps.banded = true;
        steps.format = format->second.value.guid;
        steps.band = std::min<uint64_t>(steps.band, info->ulBufferSize);
        steps.rate = Rate();
        if (core->spoil != 0 && core->seq[static_cast<int>(Op::GetBandedData)] >= core->spoilFrom)
            steps.fault = static_cast<Camera::BandFault>(core->spoil);
        steps.stopAfter = StopAfter();
        hr = StepThrough(source, steps, [](const uint8_t*, DWORD) { return S_OK; });
        if (Cut(steps, source.size(), hr)) return Unplugged();
        return hr;
    }

    HRESULT WINAPI idtQueryGetData(WIA_FORMAT_INFO*) override { return E_NOTIMPL; }
    HRESULT WINAPI idtEnumWIA_FORMAT_INFO(IEnumWIA_FORMAT_INFO** pp) override {
        Clear(pp);
        return E_NOTIMPL;
    }
    HRESULT WINAPI idtGetExtendedTransferInfo(PWIA_EXTENDED_TRANSFER_INFO) override { return E_NOTIMPL; }

private:
    int Rate() {
        const Device* device = core->Locate(dev_);
        return device ? device->transferRate : 0;
    }

    // The file written step by step, each reported; a cancelled or failed transfer leaves none.
    HRESULT WriteInSteps(const GUID& format, const wchar_t* path, IWiaDataCallback* callback, int rate) {
        ItemSource source;
        HRESULT hr = source.Open(*item_, format);
        if (FAILED(hr)) return hr;
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        Steps steps;
        steps.callback = callback;
        steps.rate = rate;
        steps.stopAfter = StopAfter();
        hr = StepThrough(source, steps, [file](const uint8_t* data, DWORD count) { return WriteWhole(file, data, count); });
        CloseHandle(file);
        // Pulled out part-way, a service leaves what it had written.
        if (Cut(steps, source.size(), hr)) return Unplugged();
        if (hr != S_OK) DeleteFileW(path);
        return hr;
    }

    // Where this transfer stops, the camera being unplugged then: the bytes left before it goes.
    uint64_t StopAfter() {
        Device* device = core->Locate(dev_);
        if (!device || device->unplugAfter < 0) return UINT64_MAX;
        return static_cast<uint64_t>(device->unplugAfter);
    }
    // True when the transfer was cut; a whole one spends its bytes of what is left.
    bool Cut(const Steps& steps, uint64_t size, HRESULT hr) {
        Device* device = core->Locate(dev_);
        if (steps.stopAfter == UINT64_MAX || !device) return false;
        if (hr == wia::kWiaErrorOffline && steps.stopAfter < size) {
            device->unplugAfter = -1;
            return true;
        }
        if (hr == S_OK) device->unplugAfter -= static_cast<int64_t>(size);
        return false;
    }
    HRESULT Unplugged() {
        if (core->Locate(dev_) && core->camera) core->camera->Unplug(dev_.hint);
        return wia::kWiaErrorOffline;
    }

    DeviceRef dev_;
    std::shared_ptr<Item> item_;
};

// --- items -----------------------------------------------------------------------------------

class ItemObject;
using ItemList = std::shared_ptr<const std::vector<std::shared_ptr<Item>>>;

class EnumItems final : public DeviceListEnum<EnumItems, IEnumWiaItem, std::shared_ptr<Item>> {
public:
    EnumItems(std::shared_ptr<Core> c, DeviceRef dev, ItemList items, ULONG pos, bool endless = false)
        : DeviceListEnum(std::move(c), "EnumItem", std::move(dev), std::move(items), pos), endless_(endless) {}

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        return Self(riid, wia::IID_IEnumWiaItem, ppv);
    }

    HRESULT WINAPI Next(ULONG n, IWiaItem** out, ULONG* fetched) override;

private:
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
                                     [this] { return NewItemStorage(core, dev_, StrayItem()); });
                return hr;
            }
            if (!ppv) return E_POINTER;
            *ppv = static_cast<IWiaPropertyStorage*>(NewItemStorage(core, dev_, item_));
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
    while (got < n && pos_ < list_->size()) {
        const auto& item = (*list_)[pos_++];
        if (endless_ && pos_ == list_->size()) pos_ = 0;
        // Deleted since the snapshot; an endless list of deleted items still ends.
        if (item->deleted) {
            if (++skipped > list_->size()) break;
            continue;
        }
        out[got++] = ItemObject::For(core, dev_, item);
    }
    if (fetched) *fetched = got;
    return got == n ? S_OK : S_FALSE;
}

}  // namespace

std::shared_ptr<Item> StrayItem() {
    auto item = std::make_shared<Item>();
    item->name = L"stray";
    return item;
}

Object<IWiaItem>* NewItemObject(std::shared_ptr<Core> c, DeviceRef dev, std::shared_ptr<Item> item) {
    return new ItemObject(std::move(c), std::move(dev), std::move(item));
}

}  // namespace fotexsim
