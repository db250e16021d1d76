// Camera events: one registration with the service for the five events, the sink the service
// calls, and the queue the host's waits take from. All of it is the process state of the event
// exports, kept in one object.
#pragma once

#include <windows.h>
#include <wia.h>

#include "com.h"
#include "event_queue.h"

namespace fotex {

class EventSink;

class CameraEvents {
public:
    CameraEvents();
    CameraEvents(const CameraEvents&) = delete;
    CameraEvents& operator=(const CameraEvents&) = delete;
    ~CameraEvents();

    // WaitForCameraEvent: registers on first use, then takes or waits for the oldest event.
    int Wait(int timeoutMs, int* kind, void* device, int deviceBytes, void* item, int itemBytes);
    // Ends the registration and empties the queue; only on the registering thread.
    void Stop();
    // At unload, under the loader lock. A registration holds the module, so only the process's
    // exit finds one: COM may be gone then, and the service's objects are forgotten, never
    // released. True when something of the service was left.
    bool Unload();
    // After a device was opened again: a registration whose service ended is made anew, on the
    // registering thread, keeping what is queued. Nothing happens elsewhere or when unregistered.
    void Renew();

private:
    HRESULT Register();
    // Unpublishes the registration, then releases it.
    void End();
    int Dispatch(int timeoutMs, unsigned generation, int* kind, void* device, int deviceBytes, void* item,
                 int itemBytes);

    static constexpr int kEventKinds = 5;

    EventQueue queue_;
    HANDLE arrived_ = nullptr;  // set by each push, for hosts whose events come on other threads
    ComPtr<EventSink> sink_;     // ours; the service holds its own references
    ComPtr<IUnknown> registrations_[kEventKinds];
    // This module, held while registered: the sink can be disconnected only in the registering
    // apartment, so a host's FreeLibrary (on any thread) must leave its code loaded.
    HMODULE pin_ = nullptr;
    bool registered_ = false;
    DWORD thread_ = 0;
    DWORD waiting_ = 0;        // the thread inside a wait (its registration included), or 0
    unsigned generation_ = 0;  // changes with each Stop, so a wait it interrupts ends
};

// At unload, from the entry point: CameraEvents::Unload of the exports' instance.
bool UnloadCameraEvents();

}  // namespace fotex
