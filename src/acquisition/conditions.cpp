#include "conditions.h"

#include <cstdio>
#include <cstdlib>

#include "growable.h"
#include "handles.h"
#include "message_wait.h"
#include "service.h"
#include "trace.h"

namespace fotex {

namespace {

volatile LONG g_busyWaitMs = kBusyWaitDefaultMs;
volatile LONG g_reconnect = 1;

// The last failure that said the device had gone. One, not one per thread: the functions are
// called from one thread at a time, and a thread-local value costs an allocation on first use.
HRESULT t_gone = S_OK;

constexpr DWORD kFirstPauseMs = 20;
constexpr DWORD kLongestPauseMs = 500;

// One handle OpenWiaDevice gave out. `current` is null until a reconnect replaced the root.
struct OpenDevice {
    IWiaItem* handle;
    BSTR id;            // ours
    IWiaItem* current;  // a reference of ours
};
OpenDevice* g_open = nullptr;
uint32_t g_openCount = 0;
uint32_t g_openCapacity = 0;
uint32_t g_replaced = 0;  // entries with a current root: while 0, a handle is its own root
ReconnectListener g_listener = nullptr;

OpenDevice* Find(IWiaItem* handle) {
    for (uint32_t i = 0; i < g_openCount; ++i)
        if (g_open[i].handle == handle) return &g_open[i];
    return nullptr;
}

}  // namespace

int BusyWaitMs() { return static_cast<int>(InterlockedCompareExchange(&g_busyWaitMs, 0, 0)); }
void SetBusyWaitMs(int ms) { InterlockedExchange(&g_busyWaitMs, ms); }
bool ReconnectOn() { return InterlockedCompareExchange(&g_reconnect, 0, 0) != 0; }
void SetReconnect(bool on) { InterlockedExchange(&g_reconnect, on ? 1 : 0); }

bool DeviceGone(HRESULT hr) { return hr == wia::kWiaErrorOffline || ServiceStatus(hr) == FOTEX_E_DISCONNECTED; }

void NoteFailure(HRESULT hr) {
    if (DeviceGone(hr)) t_gone = hr;
}

bool PauseWhileBusy(ULONGLONG start, DWORD& pause) {
    const ULONGLONG budget = static_cast<ULONGLONG>(BusyWaitMs());
    const ULONGLONG spent = GetTickCount64() - start;
    if (spent >= budget) {
        // With no wait at all the one try is the whole call: nothing to report beyond its failure.
        if (budget != 0) TraceHresult("The camera stayed busy", wia::kWiaErrorBusy);
        return false;
    }
    pause = pause == 0 ? kFirstPauseMs : (pause * 2 > kLongestPauseMs ? kLongestPauseMs : pause * 2);
    if (pause > budget - spent) pause = static_cast<DWORD>(budget - spent);
    char line[64];  // msvcrt's own formatter: the C++ headers' printf would bring mingw's along
    __ms_sprintf(line, "The camera is busy; trying again in %lu ms", static_cast<unsigned long>(pause));
    TraceHresult(line, wia::kWiaErrorBusy);
    // The host's window messages are handled meanwhile, as in any call that reaches the service.
    // What their own calls meet is theirs: it says nothing of the device of the call waiting here.
    const HRESULT gone = t_gone;
    const ULONGLONG until = GetTickCount64() + pause;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= until) {
            t_gone = gone;
            return true;
        }
        const DWORD left = static_cast<DWORD>(until - now);
        // A thread message cannot be waited past without taking it: sleep the rest instead.
        if (HandleNextMessage(nullptr, left) == MessageStep::ThreadMessage) Sleep(left);
    }
}

DeviceGoneMark::DeviceGoneMark() : saved_(t_gone) { t_gone = S_OK; }
DeviceGoneMark::~DeviceGoneMark() { t_gone = saved_; }
bool DeviceGoneMark::Gone() const { return t_gone != S_OK; }

bool RememberDevice(IWiaItem* root, Bstr& deviceId) {
    if (root == nullptr || !deviceId) return false;
    if (!GrowForOneMore(g_open, g_openCount, g_openCapacity, 4)) return false;
    g_open[g_openCount++] = {root, deviceId.release(), nullptr};
    return true;
}

void ForgetDevice(IWiaItem* root) {
    OpenDevice* entry = Find(root);
    if (entry == nullptr) return;
    IWiaItem* current = entry->current;
    SysFreeString(entry->id);
    if (current != nullptr) --g_replaced;
    *entry = g_open[--g_openCount];  // unlinked before the release, which may run handlers
    if (current != nullptr) current->Release();
}

bool ForgetAllDevices() {
    // Taken out first: a release may call back into the library.
    OpenDevice* const open = g_open;
    const uint32_t count = g_openCount;
    g_open = nullptr;
    g_openCount = g_openCapacity = 0;
    g_replaced = 0;
    bool left = false;
    for (uint32_t i = 0; i < count; ++i) {
        SysFreeString(open[i].id);
        left = ReleaseUnlessProxy(open[i].current) || left;
    }
    std::free(open);
    return left;
}

ComPtr<IWiaItem> HoldReplacement(FOTEX_HANDLE handle) {
    if (g_replaced != 0) {
        const OpenDevice* entry = Find(ItemFromHandle(handle));
        if (entry != nullptr && entry->current != nullptr) {
            entry->current->AddRef();
            return ComPtr<IWiaItem>::attach(entry->current);
        }
    }
    return {};
}

ComPtr<IWiaItem> HoldDevice(FOTEX_HANDLE handle) {
    ComPtr<IWiaItem> replacement = HoldReplacement(handle);
    if (replacement) return replacement;
    return HoldHandle(handle);
}

void SetReconnectListener(ReconnectListener listener) { g_listener = listener; }

ComPtr<IWiaItem> Reconnect(FOTEX_HANDLE handle) {
    if (!ReconnectOn()) return {};
    IWiaItem* const key = ItemFromHandle(handle);
    const HRESULT cause = t_gone;
    const OpenDevice* entry = Find(key);
    if (entry == nullptr) return {};
    // A copy: the handlers the service's calls run may close the handle and free the entry.
    Bstr id(entry->id);
    if (!id) return {};
    ComPtr<IWiaDevMgr> manager;
    HRESULT hr = CreateDeviceManagerQuietly(manager.put());
    ComPtr<IWiaItem> root;
    if (SUCCEEDED(hr) && manager) hr = Retrying([&] { return root.receive(manager->CreateDevice(id.get(), root.put())); });
    // Still away: the call's own failure says so, with no line of its own.
    if (FAILED(hr) || !root) return {};
    OpenDevice* kept = Find(key);
    if (kept == nullptr) return {};  // closed meanwhile: the new root goes with `root`
    IWiaItem* old = kept->current;
    root->AddRef();  // the entry's; `root` stays the caller's
    kept->current = root.get();
    if (old == nullptr) ++g_replaced;
    TraceHresult("The camera came back; its device was opened again", 0);
    if (old != nullptr) old->Release();
    if (g_listener != nullptr) g_listener(cause);
    return root;
}

}  // namespace fotex
