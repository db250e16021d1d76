// Camera events. The service calls the sink in the apartment of the thread that registered it;
// in a single-threaded apartment those calls arrive as window messages, so a wait dispatches the
// thread's window messages until the queue holds an event. A poll handles none: a host that
// polls runs its own loop, and its handlers must not run inside the one that polls.
#include "events.h"

#include <cstdlib>
#include <new>
#include <utility>

#include "message_wait.h"
#include "service.h"
#include "trace.h"
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
    static EventSink* Create(EventQueue* queue, unsigned registration, HANDLE arrived) {
        void* memory = std::malloc(sizeof(EventSink));
        return memory != nullptr ? ::new (memory) EventSink(queue, registration, arrived) : nullptr;
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
            queue->Push(registration_, k.kind, deviceId, k.item ? fullItemName : nullptr);
            SetEvent(arrived_);
            break;
        }
        return S_OK;
    }

    // Calls that come after the registration ended are dropped.
    void Detach() { InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&queue_), nullptr); }

private:
    EventSink(EventQueue* queue, unsigned registration, HANDLE arrived)
        : queue_(queue), registration_(registration), arrived_(arrived) {}
    ~EventSink() = default;

    LONG refs_ = 1;
    EventQueue* queue_;
    const unsigned registration_;  // the queue drops what this carries once the registration ended
    HANDLE arrived_;
};

CameraEvents::CameraEvents() = default;

CameraEvents::~CameraEvents() {
    // Unload has released or forgotten the service's objects; only our own memory is left.
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
    ComPtr<EventSink> sink = ComPtr<EventSink>::attach(EventSink::Create(&queue_, queue_.Open(), arrived_));
    if (!sink) return E_OUTOFMEMORY;

    // Built aside and published at the end: the service's calls can run the host's handlers,
    // and a Stop from one of them must find no half-made registration.
    ComPtr<IUnknown> registrations[kEventKinds];
    // No device identifier: every device's events, present and future.
    for (int i = 0; i < kEventKinds; ++i) {
        hr = registrations[i].receive(
            manager->RegisterEventCallbackInterface(0, nullptr, kKinds[i].event, sink.get(), registrations[i].put()));
        if (SUCCEEDED(hr) && !registrations[i]) hr = E_POINTER;
        if (FAILED(hr)) {
            sink->Detach();
            // What the registrations made so far delivered belongs to none the next one makes.
            queue_.Close();
            return hr;  // the registrations made so far go back before the sink
        }
    }
    sink_ = std::move(sink);
    for (int i = 0; i < kEventKinds; ++i) registrations_[i] = std::move(registrations[i]);
    registered_ = true;
    thread_ = GetCurrentThreadId();
    return S_OK;
}

void CameraEvents::End() {
    // Taken out first: calls that the releases let in find nothing registered.
    const HMODULE pin = std::exchange(pin_, nullptr);
    {
        ComPtr<EventSink> sink(std::move(sink_));
        ComPtr<IUnknown> registrations[kEventKinds];
        for (int i = 0; i < kEventKinds; ++i) registrations[i] = std::move(registrations_[i]);
        registered_ = false;
        thread_ = 0;
        if (sink) sink->Detach();
        queue_.Close();
    }
    // After the releases. Only a host's call ends a registration, and the host holds the module
    // while it can call: this only counts down.
    if (pin != nullptr) FreeLibrary(pin);
}

int CameraEvents::Wait(int timeoutMs, int* kind, void* device, int deviceBytes, void* item, int itemBytes) {
    int status = FOTEX_OK;
    if (timeoutMs < -1) return FOTEX_E_INVALIDARG;
    if (!BufferArguments(device, deviceBytes, &status) || !BufferArguments(item, itemBytes, &status)) return status;
    if (registered_ && GetCurrentThreadId() != thread_) return FOTEX_E_WRONG_THREAD;
    // From a handler that runs inside a wait: the outer wait takes the events.
    if (waiting_ != 0) return FOTEX_E_BUSY;

    struct Inside {
        DWORD& waiting;
        explicit Inside(DWORD& w) : waiting(w) { waiting = GetCurrentThreadId(); }
        ~Inside() { waiting = 0; }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
    } inside(waiting_);

    const unsigned generation = generation_;
    if (!registered_) {
        // Taken before the service can hold the sink; the host's own reference keeps the module
        // while it is inside this call, so a failure's FreeLibrary only counts down.
        HRESULT hr = S_OK;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&UnloadCameraEvents),
                                &pin_))
            hr = HRESULT_FROM_WIN32(GetLastError());
        if (SUCCEEDED(hr)) hr = Register();
        if (FAILED(hr)) {
            if (pin_ != nullptr) FreeLibrary(std::exchange(pin_, nullptr));
            return ServiceStatus(hr);
        }
        if (generation != generation_) {  // stopped by a handler the registration ran
            End();
            return 0;
        }
    }
    // A poll takes what is queued and runs none of the host's handlers.
    if (timeoutMs == 0) return queue_.Take(kind, device, deviceBytes, item, itemBytes);
    return Dispatch(timeoutMs, generation, kind, device, deviceBytes, item, itemBytes);
}

int CameraEvents::Dispatch(int timeoutMs, unsigned generation, int* kind, void* device, int deviceBytes, void* item,
                           int itemBytes) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        int status = queue_.Take(kind, device, deviceBytes, item, itemBytes);
        if (status != 0) return status;
        if (generation != generation_) return 0;  // stopped by a message handled here
        // Checked between messages too, so a flood of them cannot stretch the wait.
        if (timeoutMs >= 0 && GetTickCount64() - start > static_cast<ULONGLONG>(timeoutMs)) return 0;
        const DWORD left = Remaining(timeoutMs, start);
        // A thread message is the host's loop's: it ends the wait and stays in its place.
        const MessageStep step = HandleNextMessage(arrived_, left);
        if (step == MessageStep::ThreadMessage) return 0;
        if (step == MessageStep::Waited && left == 0) return 0;
    }
}

void CameraEvents::Stop() {
    // Only the registering thread's own: on another thread the service's objects belong to an
    // apartment it cannot call into.
    const DWORD self = GetCurrentThreadId();
    if (registered_ ? self != thread_ : waiting_ != self) return;
    ++generation_;  // ends the wait or the registration it interrupts
    if (registered_) End();
}

void CameraEvents::Renew() {
    if (!registered_ || GetCurrentThreadId() != thread_) return;
    // A registration with the service that ended is gone with it; one made again through the
    // new service delivers from now on. The old proxies are released: with their process gone,
    // the release returns at once.
    ComPtr<EventSink> sink(std::move(sink_));
    ComPtr<IUnknown> old[kEventKinds];
    for (int i = 0; i < kEventKinds; ++i) old[i] = std::move(registrations_[i]);
    registered_ = false;
    if (sink) sink->Detach();
    const HRESULT hr = Register();
    TraceHresult(SUCCEEDED(hr) ? "Camera events registered again" : "Camera events could not be registered again", hr);
    // Unregistered now: the next wait registers and pins anew. Called inside an export, so this
    // only counts down.
    if (FAILED(hr) && pin_ != nullptr) FreeLibrary(std::exchange(pin_, nullptr));
}

bool CameraEvents::Unload() {
    if (!registered_) return false;
    registered_ = false;
    thread_ = 0;
    if (sink_) sink_->Detach();
    queue_.Close();
    for (ComPtr<IUnknown>& r : registrations_) r.detach();
    sink_.detach();
    pin_ = nullptr;
    return true;
}

}  // namespace fotex
