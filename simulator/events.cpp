// Event delivery. The service calls a registered callback in the apartment of the thread that
// registered it; for a single-threaded apartment that call is a message to a window of the
// thread, handled only when the thread dispatches its messages. Here each registering thread
// has a hidden window, every event is posted to it from whichever thread raised it, and the
// window calls the callback.
#include "sim_internal.h"

#include <algorithm>

namespace fotexsim {

namespace {

constexpr UINT kDeliver = WM_APP + 0x57A;
constexpr ULONG kNotificationEvent = 1;  // WIA_NOTIFICATION_EVENT

const wchar_t kWindowClass[] = L"FotexSimEvents";

}  // namespace

// One registration as deliveries see it. The callback is released as soon as the registration
// ends, even while deliveries are still posted: those find it gone and are dropped.
struct EventLink {
    GUID event{};
    std::wstring device;  // empty: every device
    HWND window = nullptr;

    IWiaEventCallback* Acquire() {
        std::lock_guard<std::mutex> hold(lock);
        if (callback) callback->AddRef();
        return callback;
    }
    void End() {
        IWiaEventCallback* gone;
        {
            std::lock_guard<std::mutex> hold(lock);
            gone = callback;
            callback = nullptr;
        }
        if (gone) gone->Release();
    }

    std::mutex lock;
    IWiaEventCallback* callback = nullptr;
};

namespace {

struct Delivery {
    std::shared_ptr<Core> core;
    std::shared_ptr<EventLink> link;
    GUID event;
    std::wstring description, device, deviceDescription, item;
    DWORD deviceType;
    DWORD due;  // GetTickCount() at which a late event may be delivered; 0: at once
};

// Late events that reached their window early, kept there until due; touched by the windows'
// own threads only, each for its window.
constexpr UINT_PTR kLateTimer = 0x57A;
std::mutex g_lateLock;
std::map<HWND, std::vector<Delivery*>> g_late;

bool Early(const Delivery& d) { return d.due != 0 && static_cast<LONG>(d.due - GetTickCount()) > 0; }

// Sets the window's timer for its earliest late event, if any.
void ArmLateTimer(HWND window) {
    LONG wait = -1;
    {
        std::lock_guard<std::mutex> hold(g_lateLock);
        auto it = g_late.find(window);
        if (it == g_late.end()) return;
        for (const Delivery* d : it->second) {
            const LONG left = std::max<LONG>(0, static_cast<LONG>(d->due - GetTickCount()));
            if (wait < 0 || left < wait) wait = left;
        }
    }
    if (wait >= 0) SetTimer(window, kLateTimer, static_cast<UINT>(std::max<LONG>(1, wait)), nullptr);
}

// Takes the window's late events that are due now, in the order they came.
std::vector<std::unique_ptr<Delivery>> DueNow(HWND window) {
    std::vector<std::unique_ptr<Delivery>> due;
    std::lock_guard<std::mutex> hold(g_lateLock);
    auto it = g_late.find(window);
    if (it == g_late.end()) return due;
    auto& held = it->second;
    for (size_t i = 0; i < held.size();) {
        if (!Early(*held[i])) {
            due.emplace_back(held[i]);
            held.erase(held.begin() + static_cast<ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (held.empty()) g_late.erase(it);
    return due;
}

// What a delivery's strings become: the service's marshalled [in] strings, freed after the call.
class CallString {
public:
    explicit CallString(const std::wstring& s) : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
    ~CallString() { SysFreeString(b_); }
    CallString(const CallString&) = delete;
    CallString& operator=(const CallString&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_;
};

void Deliver(Delivery& d) {
    --d.core->pending;
    IWiaEventCallback* callback = d.link->Acquire();
    if (!callback) return;
    CallString description(d.description), device(d.device), deviceDescription(d.deviceDescription), item(d.item);
    ULONG eventType = kNotificationEvent;
    callback->ImageEventCallback(&d.event, description.get(), device.get(), deviceDescription.get(), d.deviceType,
                                 item.get(), &eventType, 0);
    callback->Release();
    d.core->deliveryThread = GetCurrentThreadId();
    ++d.core->delivered;
}

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kLateTimer) {
        KillTimer(window, kLateTimer);
        for (auto& d : DueNow(window)) Deliver(*d);
        ArmLateTimer(window);
        return 0;
    }
    if (message != kDeliver) return DefWindowProcW(window, message, wParam, lParam);
    std::unique_ptr<Delivery> d(reinterpret_cast<Delivery*>(lParam));
    if (Early(*d)) {
        {
            std::lock_guard<std::mutex> hold(g_lateLock);
            g_late[window].push_back(d.release());
        }
        ArmLateTimer(window);
        return 0;
    }
    Deliver(*d);
    return 0;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&EventWindowProc), &module);
    return module;
}

HWND MakeWindow(HRESULT* hr) {
    WNDCLASSW c{};
    c.lpfnWndProc = EventWindowProc;
    c.hInstance = ThisModule();
    c.lpszClassName = kWindowClass;
    if (!RegisterClassW(&c) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        *hr = HRESULT_FROM_WIN32(GetLastError());
        return nullptr;
    }
    HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, c.hInstance, nullptr);
    if (!window) *hr = HRESULT_FROM_WIN32(GetLastError());
    return window;
}

const wchar_t* EventDescription(const GUID& event) {
    if (event == fotex::wia::WIA_EVENT_ITEM_CREATED) return L"Item created";
    if (event == fotex::wia::WIA_EVENT_ITEM_DELETED) return L"Item deleted";
    if (event == fotex::wia::WIA_EVENT_DEVICE_CONNECTED) return L"Device Connected";
    if (event == fotex::wia::WIA_EVENT_DEVICE_DISCONNECTED) return L"Device Disconnected";
    if (event == fotex::wia::WIA_EVENT_TREE_UPDATED) return L"Tree updated";
    return L"";
}

}  // namespace

std::shared_ptr<EventLink> Subscribe(const std::shared_ptr<Core>& core, const GUID& event, BSTR deviceId,
                                     IWiaEventCallback* callback, HRESULT* hr) {
    auto link = std::make_shared<EventLink>();
    link->event = event;
    link->device = deviceId ? deviceId : L"";
    std::lock_guard<std::mutex> hold(core->eventLock);
    HWND& window = core->windows[GetCurrentThreadId()];
    if (!window) window = MakeWindow(hr);
    if (!window) {
        core->windows.erase(GetCurrentThreadId());
        return nullptr;
    }
    link->window = window;
    callback->AddRef();
    link->callback = callback;
    core->links.push_back(link);
    return link;
}

void Unsubscribe(Core& core, const std::shared_ptr<EventLink>& link) {
    {
        std::lock_guard<std::mutex> hold(core.eventLock);
        auto& links = core.links;
        for (auto it = links.begin(); it != links.end(); ++it)
            if (*it == link) {
                links.erase(it);
                break;
            }
    }
    link->End();
}

void Core::Raise(const GUID& event, const Device& device, const std::wstring& itemName) {
    auto type = device.info.find(5);  // WIA_DIP_DEV_TYPE
    int copies = 1;
    DWORD delay = 0;
    if (event == fotex::wia::WIA_EVENT_ITEM_CREATED || event == fotex::wia::WIA_EVENT_ITEM_DELETED ||
        event == fotex::wia::WIA_EVENT_TREE_UPDATED) {
        const Device::Events& mode = device.events;
        const uint64_t k = ++mode.raised, share = static_cast<uint64_t>(std::max(0, std::min(100, mode.value)));
        switch (mode.mode) {
        case Device::Events::None: return;
        case Device::Events::Lost:
            if (k * share / 100 != (k - 1) * share / 100) return;
            break;
        case Device::Events::Twice: copies = 2; break;
        case Device::Events::Late: delay = static_cast<DWORD>(std::max(0, mode.value)); break;
        default: break;
        }
    }
    std::shared_ptr<Core> self;
    std::lock_guard<std::mutex> hold(eventLock);
    for (const auto& link : links) {
        if (link->event != event || (!link->device.empty() && link->device != device.id)) continue;
        if (!self) self = camera ? camera->state().core : nullptr;
        if (!self) return;
        for (int copy = 0; copy < copies; ++copy) {
            // A due time of 0 means "at once": a late one that lands on it takes the next tick.
            const DWORD due = delay ? std::max<DWORD>(1, GetTickCount() + delay) : 0;
            auto* d = new Delivery{self, link, event, EventDescription(event), device.id, device.description, itemName,
                                   type != device.info.end() ? static_cast<DWORD>(type->second.value.i) : 0, due};
            ++pending;
            if (!PostMessageW(link->window, kDeliver, 0, reinterpret_cast<LPARAM>(d))) {
                --pending;
                delete d;
            }
        }
    }
}

void CloseEventWindows(Core& core) {
    std::lock_guard<std::mutex> hold(core.eventLock);
    auto it = core.windows.find(GetCurrentThreadId());
    if (it == core.windows.end()) return;
    MSG message;
    while (PeekMessageW(&message, it->second, kDeliver, kDeliver, PM_REMOVE)) {
        std::unique_ptr<Delivery> d(reinterpret_cast<Delivery*>(message.lParam));
        --core.pending;
    }
    {
        std::lock_guard<std::mutex> late(g_lateLock);
        auto held = g_late.find(it->second);
        if (held != g_late.end()) {
            for (Delivery* d : held->second) {
                --d->core->pending;
                delete d;
            }
            g_late.erase(held);
        }
    }
    DestroyWindow(it->second);
    core.windows.erase(it);
}

}  // namespace fotexsim
