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
    // At unload: as Stop while COM is alive; when the process is ending, only forgets the
    // service's objects, since calling into COM then can hang.
    void Unload(bool comAlive);
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
    bool registered_ = false;
    DWORD thread_ = 0;
    DWORD waiting_ = 0;        // the thread inside a wait (its registration included), or 0
    unsigned generation_ = 0;  // changes with each Stop, so a wait it interrupts ends
};

// At unload, from the entry point: CameraEvents::Unload of the exports' instance.
void UnloadCameraEvents(bool comAlive);

}  // namespace fotex
