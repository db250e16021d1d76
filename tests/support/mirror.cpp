#include "mirror.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>

#include "host.h"
#include "image.h"

namespace fotextest {

namespace {

Mirror* g_mirror = nullptr;

Server& SharedServer() {
    static Server server;
    return server;
}

// Around a call into the DLL from the test.
class Around {
public:
    Around() : mirror_(g_mirror) {
        if (mirror_) mirror_->Enter();
    }
    ~Around() {
        if (mirror_) mirror_->Leave();
    }
    Around(const Around&) = delete;
    Around& operator=(const Around&) = delete;

private:
    Mirror* mirror_;
};

// Every export takes at most eight integer or pointer arguments and returns an integer or
// nothing, so one forwarder of eight such arguments serves them all: with cdecl and the x64
// convention alike the caller owns its arguments, and unused ones are never read.
using Any = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
constexpr size_t kSlots = 192;
std::array<Any, kSlots> g_original{};

template <size_t N>
intptr_t Forward(intptr_t a, intptr_t b, intptr_t c, intptr_t d, intptr_t e, intptr_t f, intptr_t g, intptr_t h) {
    Around around;
    return g_original[N](a, b, c, d, e, f, g, h);
}

template <size_t... N>
constexpr std::array<Any, sizeof...(N)> Forwarders(std::index_sequence<N...>) {
    return {&Forward<N>...};
}
constexpr std::array<Any, kSlots> kForwarders = Forwarders(std::make_index_sequence<kSlots>());

void* Wrap(const char* name, void* symbol) {
    static std::map<std::string, size_t> slots;
    auto it = slots.find(name);
    if (it == slots.end()) {
        if (slots.size() == kSlots) {
            ADD_FAILURE() << "no forwarder left for " << name;
            return symbol;
        }
        it = slots.emplace(name, slots.size()).first;
    }
    g_original[it->second] = reinterpret_cast<Any>(symbol);
    return reinterpret_cast<void*>(kForwarders[it->second]);
}

// A BSTR taken over, or filled through put(); com.h's Bstr only copies text.
class OwnedBstr {
public:
    OwnedBstr() = default;
    explicit OwnedBstr(BSTR taken) : s_(taken) {}
    OwnedBstr(const OwnedBstr&) = delete;
    OwnedBstr& operator=(const OwnedBstr&) = delete;
    ~OwnedBstr() { SysFreeString(s_); }
    BSTR get() const { return s_; }
    BSTR* put() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }

private:
    BSTR s_ = nullptr;
};

// The server's control for one call: the test's own connection on its thread, a connection of
// the call's own on any other (tests press the shutter from threads of their own). Kept per
// thread, a COM pointer would be released at the thread's end after its storage is gone.
class Connection {
public:
    explicit Connection(bool testThread) {
        if (testThread) {
            control_ = SharedServer().operator->();
            return;
        }
        uninitialize_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        if (FAILED(CoCreateInstance(kServerControlClass, nullptr, CLSCTX_LOCAL_SERVER, IID_IFotexSimControl,
                                    own_.put_void())))
            ADD_FAILURE() << "FotexSimServer.exe did not answer another thread";
        control_ = own_.get();
    }
    ~Connection() {
        own_.reset();
        if (uninitialize_) CoUninitialize();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    IFotexSimControl* operator->() const { return control_; }
    explicit operator bool() const { return control_ != nullptr; }

private:
    fotex::ComPtr<IFotexSimControl> own_;
    IFotexSimControl* control_ = nullptr;
    bool uninitialize_ = false;
};

BSTR Alloc(const std::wstring& s) { return SysAllocStringLen(s.data(), static_cast<UINT>(s.size())); }

std::string Bytes(BSTR b) { return b ? std::string(reinterpret_cast<const char*>(b), SysStringByteLen(b)) : std::string(); }

}  // namespace

bool ServerMode() {
    const char* mode = std::getenv("FOTEX_TEST_CAMERA");
    return mode && std::strcmp(mode, "server") == 0;
}

HRESULT Mirror::Attach(fotexsim::Camera& camera) {
    Server& server = SharedServer();
    HRESULT hr = server ? server.Reset(L"empty") : server.Connect();
    if (FAILED(hr)) return hr;
    camera_ = &camera;
    thread_ = GetCurrentThreadId();
    depth_ = 0;
    synced_.clear();
    removed_.clear();
    camera.remote = this;
    g_mirror = this;
    Library::Filter() = &Wrap;
    return S_OK;
}

void Mirror::Detach() {
    if (!camera_) return;
    Library::Filter() = nullptr;
    g_mirror = nullptr;
    camera_->remote = nullptr;
    camera_ = nullptr;
}

bool Mirror::OnItsThread() { return GetCurrentThreadId() == thread_; }

// What the test changed goes over before its call, what the service changed comes back after.
// A call that the host's handlers make while another is in flight only runs: the outer one
// syncs. Only the test's thread counts: a call on another thread neither syncs nor stops the
// test's own calls from syncing.
void Mirror::Enter() {
    if (OnItsThread() && depth_++ == 0) Push();
}

void Mirror::Leave() {
    if (OnItsThread() && --depth_ == 0) Pull();
}

void Mirror::Push() {
    if (!camera_ || !OnItsThread()) return;  // the test's thread owns the camera's data
    std::string now = fotexsim::SaveImage(*camera_);
    if (now == synced_) return;
    OwnedBstr image(SysAllocStringByteLen(now.data(), static_cast<UINT>(now.size())));
    const HRESULT hr = SharedServer()->Load(image.get());
    if (FAILED(hr)) ADD_FAILURE() << "the server refused the camera: 0x" << std::hex << hr;
    synced_ = std::move(now);
}

void Mirror::Pull() {
    if (!camera_ || !OnItsThread()) return;
    OwnedBstr image;
    const HRESULT hr = SharedServer()->Save(image.put());
    std::string now = Bytes(image.get());
    if (FAILED(hr) || now.empty()) {
        ADD_FAILURE() << "the server's camera did not come back: 0x" << std::hex << hr;
        return;
    }
    if (now == synced_) return;
    if (!fotexsim::LoadImage(*camera_, now, &removed_)) ADD_FAILURE() << "the server's camera is no image";
    synced_ = std::move(now);
}

fotexsim::Item* Mirror::PressShutter(size_t device, const std::wstring* name, const std::wstring* extension) {
    Connection control(OnItsThread());
    if (!control) return nullptr;
    Push();
    OwnedBstr n(Alloc(name ? *name : std::wstring())), e(Alloc(extension ? *extension : std::wstring())), taken;
    const LONG given = (name ? 1 : 0) | (extension ? 2 : 0);
    const HRESULT hr = control->TakePicture(static_cast<LONG>(device), given, n.get(), e.get(), taken.put());
    Pull();
    // Another thread's picture reaches this camera with the test thread's next call.
    if (hr != S_OK || !OnItsThread() || device >= camera_->devices.size()) return nullptr;
    const std::wstring key(taken.get(), SysStringLen(taken.get()));
    fotexsim::Item* found = nullptr;
    for (fotexsim::Item* item : camera_->ItemsOf(camera_->devices[device]))
        if ((item->key.empty() ? item->name : item->key) == key) found = item;  // the newest of that name
    return found;
}

bool Mirror::Plug(size_t device, bool in) {
    Connection control(OnItsThread());
    if (!control) return false;
    Push();
    const LONG d = static_cast<LONG>(device);
    const HRESULT hr = in ? control->PlugIn(d) : control->Unplug(d);
    Pull();
    return hr == S_OK;
}

void Mirror::RaiseEvent(const GUID& event, size_t device, const std::wstring& itemName) {
    Connection control(OnItsThread());
    OwnedBstr name(Alloc(itemName));
    if (control) {
        EXPECT_EQ(S_OK, control->RaiseEvent(&event, static_cast<LONG>(device), name.get()));
    }
}

long Mirror::Counted(Count what) {
    Connection control(OnItsThread());
    LONG live = -1, registrations = -1, delivered = -1, pending = -1;
    OwnedBstr text;
    if (!control) return -1;
    switch (what) {
        case Count::References: control->Ledger(&live, text.put()); return live;
        case Count::Registrations: control->EventCounts(&registrations, &delivered); return registrations;
        case Count::Delivered: control->EventCounts(&registrations, &delivered); return delivered;
        case Count::Pending: control->EventsPending(&pending); return pending;
    }
    return -1;
}

std::string Mirror::Describe() {
    std::string text;
    if (OnItsThread()) SharedServer().Live(&text);
    return text;
}

}  // namespace fotextest
