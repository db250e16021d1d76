// The service's device manager with its device enumerator, its event registrations and the class
// factory that makes it. Every counted operation passes Core::Faulted first.
#include "objects.h"

#include <algorithm>

namespace fotexsim {

namespace wia = fotex::wia;

namespace {

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
                core->LeaveStray(out, [this] { return NewInfoStorage(core, std::make_shared<PropertyMap>(), L"stray"); });
            return hr;
        }
        if (!out) return E_POINTER;
        if (n > 1 && !fetched) return E_INVALIDARG;
        ULONG got = 0;
        while (got < n && pos_ < list_->size()) {
            const DevInfo& d = (*list_)[pos_++];
            if (endless_ && pos_ == list_->size()) pos_ = 0;
            out[got++] = NewInfoStorage(core, d.info, d.id);
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
            if (FAILED(hr)) core->LeaveStray(pp, [this] { return NewItemObject(core, DeviceRef{}, StrayItem()); });
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
            if (d.asleep || d.offline) return wia::kWiaErrorOffline;
            *pp = NewItemObject(core, DeviceRef{d.root, i}, d.root);
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
                core->LeaveStray(pp, [this] { return NewInfoStorage(core, std::make_shared<PropertyMap>(), L"stray"); });
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
