// FotexSimServer.exe: the virtual camera as a COM local server for the image-acquisition
// service's class, so that a host meets it through real proxies, the channel and its own modal
// loop. One single-threaded apartment serves every call, as the camera expects one thread; a
// control object of the server's own lets tests change the camera from their process.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "fotexsim.h"
#include "image.h"
#include "sim_internal.h"
#include "fotexsim_control.h"

namespace {

using fotexsim::Camera;
using fotexsim::kOpCount;
using fotexsim::Op;

constexpr CLSID kControlClass = {0xC4BAC9C0, 0x2F6F, 0x4343, {0x9F, 0x7C, 0x59, 0x74, 0xB9, 0x44, 0x67, 0x2F}};
// With nobody attached, the server goes after this long without a call: a host that ended
// without releasing its objects would otherwise keep it (and its Wine prefix) alive.
constexpr DWORD kIdleMs = 60000;

struct ServerState {
    std::unique_ptr<Camera> camera;
    std::array<DWORD, kOpCount> delay{};
    std::vector<HANDLE> clients;
    bool attached = false;
    DWORD lastActive = 0;
    LONG killOp = -1;
    DWORD killAfter = 0;
    DWORD cookies[2] = {0, 0};  // the class objects' registrations
};
ServerState g;

// Waits while handling the thread's messages, so calls and event deliveries go on meanwhile,
// as the real service, which is free-threaded, serves other calls during a long one.
void PumpFor(DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    for (;;) {
        const LONG left = static_cast<LONG>(end - GetTickCount());
        if (left <= 0) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// A crash: nothing is released or answered. Only the class registrations go first, as the
// system's service control drops those of a dead server; Wine's would hand the dead ones out to
// every later activation instead of starting the server anew.
void Die() {
    for (DWORD cookie : g.cookies)
        if (cookie) CoRevokeClassObject(cookie);
    TerminateProcess(GetCurrentProcess(), 3);
}

void NewCamera(const std::wstring& scenario) {
    g.camera.reset();  // objects that hosts still hold stay valid on the old camera's core
    g.camera = std::make_unique<Camera>();
    if (scenario == L"default") g.camera->LoadDefaultScenario();
    g.camera->onCall = [](Op op) {
        g.lastActive = GetTickCount();
        const DWORD ms = g.delay[static_cast<size_t>(op)];
        if (ms) PumpFor(ms);
        if (g.killOp == static_cast<LONG>(op)) {
            PumpFor(g.killAfter);
            Die();
        }
    };
}

void CALLBACK KillNow(HWND, UINT, UINT_PTR, DWORD) { Die(); }

bool KnownOp(LONG op) { return op >= 0 && op < kOpCount; }
bool KnownDevice(LONG device) {
    return device >= 0 && static_cast<size_t>(device) < g.camera->devices.size();
}
std::wstring Text(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : std::wstring(); }

class Control final : public IFotexSimControl {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IFotexSimControl) return E_NOINTERFACE;
        *ppv = static_cast<IFotexSimControl*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }

    HRESULT STDMETHODCALLTYPE Reset(BSTR scenario) override {
        const std::wstring name = Text(scenario);
        if (name != L"empty" && name != L"default") return E_INVALIDARG;
        g.delay.fill(0);
        NewCamera(name);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddCamera(BSTR id, BSTR name, BSTR description, LONG pictures) override {
        if (!id) return E_INVALIDARG;
        if (pictures >= 0)
            g.camera->AddStandardCamera(Text(id), Text(name), Text(description), pictures);
        else
            g.camera->AddDevice(Text(id), Text(name), Text(description));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddFolderCamera(BSTR folder, BSTR name) override {
        if (!folder) return E_POINTER;
        return g.camera->AddFolderCamera(Text(folder), Text(name));
    }
    HRESULT STDMETHODCALLTYPE PressShutter(LONG device) override {
        return KnownDevice(device) && g.camera->PressShutter(static_cast<size_t>(device)) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Unplug(LONG device) override {
        return KnownDevice(device) && g.camera->Unplug(static_cast<size_t>(device)) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE PlugIn(LONG device) override {
        return KnownDevice(device) && g.camera->PlugIn(static_cast<size_t>(device)) ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE SetCallDelay(LONG op, LONG milliseconds) override {
        if (!KnownOp(op) || milliseconds < 0) return E_INVALIDARG;
        g.delay[static_cast<size_t>(op)] = static_cast<DWORD>(milliseconds);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FailOn(LONG op, HRESULT result, LONG nth, LONG times) override {
        if (!KnownOp(op) || nth < 1) return E_INVALIDARG;
        g.camera->FailOn(static_cast<Op>(op), result, nth, times);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ClearFaults() override {
        g.camera->ClearFaults();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetDirtyFailures(BOOL on) override {
        g.camera->SetDirtyFailures(on != FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Calls(LONG op, LONG* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        if (!KnownOp(op)) return E_INVALIDARG;
        *count = g.camera->Calls(static_cast<Op>(op));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Ledger(LONG* live, BSTR* description) override {
        if (!live || !description) return E_POINTER;
        *live = g.camera->LiveReferences();
        const std::string text = g.camera->Describe();
        *description = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
        if (!*description) return E_OUTOFMEMORY;
        std::copy(text.begin(), text.end(), *description);  // the ledger's text is ASCII
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EventCounts(LONG* registrations, LONG* delivered) override {
        if (!registrations || !delivered) return E_POINTER;
        *registrations = g.camera->EventRegistrations();
        *delivered = g.camera->EventsDelivered();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Attach(DWORD processId) override {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
        if (!process) return HRESULT_FROM_WIN32(GetLastError());
        g.clients.push_back(process);
        g.attached = true;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Load(BSTR image) override {
        if (!image) return E_INVALIDARG;
        const std::string bytes(reinterpret_cast<const char*>(image), SysStringByteLen(image));
        return fotexsim::LoadImage(*g.camera, bytes) ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE Save(BSTR* image) override {
        if (!image) return E_POINTER;
        const std::string bytes = fotexsim::SaveImage(*g.camera);
        *image = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
        return *image ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE TakePicture(LONG device, LONG given, BSTR name, BSTR extension, BSTR* taken) override {
        if (!taken) return E_POINTER;
        *taken = nullptr;
        if (!KnownDevice(device)) return S_FALSE;
        const std::wstring ext = Text(extension);
        fotexsim::Item* item = (given & 1)
            ? g.camera->PressShutter(static_cast<size_t>(device), Text(name), (given & 2) ? &ext : nullptr)
            : g.camera->PressShutter(static_cast<size_t>(device));
        if (!item) return S_FALSE;
        const std::wstring& key = fotexsim::KeyOf(*item);
        *taken = SysAllocStringLen(key.data(), static_cast<UINT>(key.size()));
        return *taken ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE RaiseEvent(const GUID* event, LONG device, BSTR itemName) override {
        if (!event) return E_POINTER;
        if (!KnownDevice(device)) return S_FALSE;
        g.camera->RaiseEvent(*event, static_cast<size_t>(device), Text(itemName));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EventsPending(LONG* pending) override {
        if (!pending) return E_POINTER;
        *pending = g.camera->EventsPending();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetEventMode(LONG device, LONG mode, LONG value) override {
        if (!KnownDevice(device)) return S_FALSE;
        return g.camera->SetEventMode(static_cast<size_t>(device), mode, value) ? S_OK : E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE SetCondition(LONG device, LONG condition, LONG value) override {
        if (!KnownDevice(device) || condition < 1 || condition > 5) return S_FALSE;
        return g.camera->SetCondition(static_cast<size_t>(device), static_cast<Camera::Condition>(condition), value)
                   ? S_OK
                   : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Kill(LONG op, LONG afterMs) override {
        if ((op != -1 && !KnownOp(op)) || afterMs < 0) return E_INVALIDARG;
        if (op != -1) {
            g.killOp = op;
            g.killAfter = static_cast<DWORD>(afterMs);
            return S_OK;
        }
        // On the server's one thread (registrations are revoked where they were made), whatever
        // it is doing then: a call waits with the thread's messages handled.
        return SetTimer(nullptr, 0, static_cast<UINT>(afterMs), KillNow) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

private:
    ULONG refs_ = 1;
};

class ControlFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* control = new Control();
        const HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ULONG refs_ = 1;
};

// Attached clients that have ended are dropped; true while the server has a reason to live.
bool StillNeeded() {
    g.clients.erase(std::remove_if(g.clients.begin(), g.clients.end(),
                                   [](HANDLE h) {
                                       if (WaitForSingleObject(h, 0) != WAIT_OBJECT_0) return false;
                                       CloseHandle(h);
                                       return true;
                                   }),
                    g.clients.end());
    if (g.attached) return !g.clients.empty();
    return GetTickCount() - g.lastActive < kIdleMs;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    NewCamera(L"default");
    g.lastActive = GetTickCount();

    IClassFactory* service = fotexsim::NewClassFactory();
    IClassFactory* control = new ControlFactory();
    DWORD& serviceCookie = g.cookies[0];
    DWORD& controlCookie = g.cookies[1];
    HRESULT hr = CoRegisterClassObject(fotex::wia::CLSID_WiaDevMgr, service, CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE, &serviceCookie);
    if (SUCCEEDED(hr))
        hr = CoRegisterClassObject(kControlClass, control, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &controlCookie);

    while (SUCCEEDED(hr) && StillNeeded()) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(g.clients.size(), MAXIMUM_WAIT_OBJECTS - 1));
        MsgWaitForMultipleObjects(count, g.clients.data(), FALSE, 500, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    if (controlCookie) CoRevokeClassObject(controlCookie);
    if (serviceCookie) CoRevokeClassObject(serviceCookie);
    control->Release();
    service->Release();
    g.camera.reset();
    for (HANDLE h : g.clients) CloseHandle(h);
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 2;
}
