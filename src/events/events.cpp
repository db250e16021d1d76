// Camera events. The service calls the sink in the apartment of the thread that registered it;
// in a single-threaded apartment those calls arrive as window messages, so the wait takes and
// dispatches the thread's messages until the queue holds an event.
#include "events.h"

#include <cstdlib>
#include <new>

#include "service.h"
#include "wia_ids.h"

namespace fotex {

namespace {

struct EventKind {
    const GUID* event;
    int kind;
    bool item;  // carries an item's full name
};

// In the order of the kinds, which is also the order of registration.
const EventKind kKinds[] = {
    {&wia::WIA_EVENT_DEVICE_CONNECTED, FOTEX_EVENT_DEVICE_CONNECTED, false},
    {&wia::WIA_EVENT_DEVICE_DISCONNECTED, FOTEX_EVENT_DEVICE_DISCONNECTED, false},
    {&wia::WIA_EVENT_ITEM_CREATED, FOTEX_EVENT_ITEM_CREATED, true},
    {&wia::WIA_EVENT_ITEM_DELETED, FOTEX_EVENT_ITEM_DELETED, true},
    {&wia::WIA_EVENT_TREE_UPDATED, FOTEX_EVENT_TREE_UPDATED, false},
};

// The milliseconds left of a wait that began at `start`; INFINITE for a wait without end.
DWORD Remaining(int timeoutMs, ULONGLONG start) {
    if (timeoutMs < 0) return INFINITE;
    const ULONGLONG elapsed = GetTickCount64() - start;
    return elapsed >= static_cast<ULONGLONG>(timeoutMs) ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
}

bool BufferArguments(const void* buffer, int bytes, int* status) {
    if (bytes < 0) *status = FOTEX_E_INVALIDARG;
    else if (buffer == nullptr && bytes > 0) *status = FOTEX_E_POINTER;
    else return true;
    return false;
}

}  // namespace

// The callback object registered with the service: it only queues what it is told.
class EventSink final : public IWiaEventCallback {
public:
    // Made with malloc: the library has no use for the runtime's throwing allocators.
    static EventSink* Create(EventQueue* queue, HANDLE arrived) {
        void* memory = std::malloc(sizeof(EventSink));
        return memory != nullptr ? ::new (memory) EventSink(queue, arrived) : nullptr;
    }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != wia::IID_IWiaEventCallback) return E_NOINTERFACE;
        *ppv = static_cast<IWiaEventCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG WINAPI AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG WINAPI Release() override {
        const LONG r = InterlockedDecrement(&refs_);
        if (r == 0) {
            this->~EventSink();
            std::free(this);
        }
        return static_cast<ULONG>(r);
    }

    HRESULT WINAPI ImageEventCallback(const GUID* event, BSTR, BSTR deviceId, BSTR, DWORD, BSTR fullItemName, ULONG*,
                                      ULONG) override {
        EventQueue* queue = static_cast<EventQueue*>(InterlockedCompareExchangePointer(
            reinterpret_cast<void* volatile*>(&queue_), nullptr, nullptr));
        if (queue == nullptr || event == nullptr) return S_OK;
        for (const EventKind& k : kKinds) {
            if (*k.event != *event) continue;
            queue->Push(k.kind, deviceId, k.item ? fullItemName : nullptr);
            SetEvent(arrived_);
            break;
        }
        return S_OK;
    }

    // Calls that come after the registration ended are dropped.
    void Detach() { InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&queue_), nullptr); }

private:
    EventSink(EventQueue* queue, HANDLE arrived) : queue_(queue), arrived_(arrived) {}
    ~EventSink() = default;

    LONG refs_ = 1;
    EventQueue* queue_;
    HANDLE arrived_;
};

CameraEvents::CameraEvents() = default;

CameraEvents::~CameraEvents() {
    // Unload has released or forgotten the service's objects; only the handle is left.
    if (arrived_ != nullptr) CloseHandle(arrived_);
}

HRESULT CameraEvents::Register() {
    if (!queue_.Reserve()) return E_OUTOFMEMORY;
    if (arrived_ == nullptr) arrived_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (arrived_ == nullptr) return HRESULT_FROM_WIN32(GetLastError());

    ComPtr<IWiaDevMgr> manager;
    HRESULT hr = CreateDeviceManagerQuietly(manager.put());
    if (FAILED(hr)) return hr;
    if (!manager) return E_POINTER;
    sink_ = ComPtr<EventSink>::attach(EventSink::Create(&queue_, arrived_));
    if (!sink_) return E_OUTOFMEMORY;

    // No device identifier: every device's events, present and future.
    for (int i = 0; i < kEventKinds; ++i) {
        hr = manager->RegisterEventCallbackInterface(0, nullptr, kKinds[i].event, sink_.get(),
                                                     registrations_[i].put());
        if (FAILED(hr)) registrations_[i].detach();  // what a failing call left is not ours
        else if (!registrations_[i]) hr = E_POINTER;
        if (FAILED(hr)) {
            Release(true);
            return hr;
        }
    }
    registered_ = true;
    thread_ = GetCurrentThreadId();
    return S_OK;
}

void CameraEvents::Release(bool comAlive) {
    if (sink_) sink_->Detach();
    for (ComPtr<IUnknown>& r : registrations_) {
        if (comAlive)
            r.reset();
        else
            r.detach();
    }
    if (comAlive)
        sink_.reset();
    else
        sink_.detach();
    registered_ = false;
    thread_ = 0;
}

int CameraEvents::Wait(int timeoutMs, int* kind, void* device, int deviceBytes, void* item, int itemBytes) {
    int status = FOTEX_OK;
    if (timeoutMs < -1) return FOTEX_E_INVALIDARG;
    if (!BufferArguments(device, deviceBytes, &status) || !BufferArguments(item, itemBytes, &status)) return status;
    if (registered_ && GetCurrentThreadId() != thread_) return FOTEX_E_WRONG_THREAD;
    if (!registered_) {
        const HRESULT hr = Register();
        if (FAILED(hr)) return hr;
    }

    const ULONGLONG start = GetTickCount64();
    const unsigned generation = generation_;
    for (;;) {
        if ((status = queue_.Take(kind, device, deviceBytes, item, itemBytes)) != 0) return status;
        if (generation != generation_) return 0;  // stopped by a message handled here
        // Checked between messages too, so a flood of them cannot stretch the wait; a poll
        // goes on while messages keep coming, within one tick of the clock.
        if (timeoutMs >= 0 && GetTickCount64() - start > static_cast<ULONGLONG>(timeoutMs)) return 0;
        // One message at a time: what is not dispatched yet waits in the thread's own queue
        // rather than overflowing ours.
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return 0;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
            continue;
        }
        const DWORD left = Remaining(timeoutMs, start);
        if (left == 0) return 0;
        MsgWaitForMultipleObjectsEx(1, &arrived_, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void CameraEvents::Stop() {
    if (!registered_) return;
    Release(true);
    queue_.Clear();
    ++generation_;
}

void CameraEvents::Unload(bool comAlive) {
    if (registered_) Release(comAlive);
}

}  // namespace fotex
