#include "event_queue.h"

#include "text_units.h"

namespace fotex {

namespace {

class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& lock_;
};

// Copies at most units - 1 units and the terminator.
void CopyText(WCHAR* field, int units, const WCHAR* text) {
    int n = 0;
    if (text != nullptr)
        for (; n < units - 1 && text[n] != 0; ++n) field[n] = text[n];
    field[n] = 0;
}

// The bytes a text needs with its terminator.
TextPiece PieceOf(const WCHAR* text) { return {text, static_cast<uint32_t>(lstrlenW(text))}; }

}  // namespace

EventQueue::~EventQueue() {
    if (slots_ != nullptr) VirtualFree(slots_, 0, MEM_RELEASE);
}

bool EventQueue::Reserve() {
    Exclusive hold(lock_);
    // Pages the system commits on first touch: a host that never fills the queue pays for the
    // slots it used only.
    if (slots_ == nullptr)
        slots_ = static_cast<CameraEvent*>(VirtualAlloc(nullptr, sizeof(CameraEvent) * kSlots, MEM_RESERVE | MEM_COMMIT,
                                                        PAGE_READWRITE));
    return slots_ != nullptr;
}

unsigned EventQueue::Open() {
    Exclusive hold(lock_);
    return registration_;
}

void EventQueue::Push(unsigned registration, int kind, const WCHAR* device, const WCHAR* item) {
    Exclusive hold(lock_);
    if (slots_ == nullptr || registration != registration_) return;
    if (size_ >= kEvents) {
        if (Slot(size_ - 1).kind == FOTEX_EVENT_LOST) return;  // the run goes on
        kind = FOTEX_EVENT_LOST;
        device = nullptr;
        item = nullptr;
    }
    CameraEvent& slot = Slot(size_);
    slot.kind = kind;
    CopyText(slot.device, FOTEX_EVENT_DEVICE_UNITS, device);
    CopyText(slot.item, FOTEX_EVENT_NAME_UNITS, item);
    ++size_;
}

int EventQueue::Take(int* kind, void* device, int deviceBytes, void* item, int itemBytes) {
    Exclusive hold(lock_);
    if (size_ == 0) return 0;
    const CameraEvent& oldest = Slot(0);
    const TextPiece deviceText = PieceOf(oldest.device), itemText = PieceOf(oldest.item);
    // Both checked first: an event is taken whole or not at all.
    if ((device != nullptr && !TextFits(deviceBytes, &deviceText, 1)) ||
        (item != nullptr && !TextFits(itemBytes, &itemText, 1)))
        return FOTEX_E_INSUFFICIENT_BUFFER;
    if (kind != nullptr) *kind = oldest.kind;
    if (device != nullptr) PutText(device, deviceBytes, &deviceText, 1);
    if (item != nullptr) PutText(item, itemBytes, &itemText, 1);
    head_ = (head_ + 1) % kSlots;
    --size_;
    return FOTEX_OK;
}

void EventQueue::Close() {
    Exclusive hold(lock_);
    head_ = 0;
    size_ = 0;
    ++registration_;
}

int EventQueue::Size() {
    Exclusive hold(lock_);
    return size_;
}

}  // namespace fotex
