// The queue of camera events between the service's calls and the host's waits: a ring of fixed
// slots, allocated once, so that taking an event in allocates nothing. Safe to push from any
// thread: a host in the multithreaded apartment receives events on the service's threads.
#pragma once

#include <windows.h>

#include "fotex.h"

namespace fotex {

struct CameraEvent {
    int kind;
    WCHAR device[FOTEX_EVENT_DEVICE_UNITS];
    WCHAR item[FOTEX_EVENT_NAME_UNITS];
};

class EventQueue {
public:
    EventQueue() = default;
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;
    ~EventQueue();

    // The slots, once; false when the memory cannot be had.
    bool Reserve();

    // The number of the registration now starting, which its events carry into Push.
    unsigned Open();

    // Queues an event of registration `registration`, its texts cut to their fields; an event of
    // a registration closed meanwhile is dropped. A full queue drops it, and one LOST event after
    // the last queued one stands for the whole run of dropped events.
    void Push(unsigned registration, int kind, const WCHAR* device, const WCHAR* item);

    // Copies the oldest event into the host's outputs and removes it: FOTEX_OK. 0 when the queue
    // is empty; FOTEX_E_INSUFFICIENT_BUFFER when a text does not fit, the event staying first.
    int Take(int* kind, void* device, int deviceBytes, void* item, int itemBytes);

    // Empties the queue and ends the open registration: a service call already under way on
    // another thread (a multithreaded apartment) then adds nothing, before or after.
    void Close();
    int Size();

private:
    // Events the queue holds, and one slot more for the LOST that follows them.
    static constexpr int kEvents = FOTEX_EVENT_QUEUE;
    static constexpr int kSlots = kEvents + 1;

    CameraEvent& Slot(int n) { return slots_[(head_ + n) % kSlots]; }

    SRWLOCK lock_ = SRWLOCK_INIT;
    CameraEvent* slots_ = nullptr;
    int head_ = 0;
    int size_ = 0;
    unsigned registration_ = 0;
};

}  // namespace fotex
