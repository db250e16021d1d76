#include "device_list.h"

#include <cstdlib>
#include <cstring>

namespace fotex {

namespace {
// Constant-initialised, so it exists before the entry point runs; its destructor runs after
// the entry point's process-detach branch.
DeviceList g_devices;
DeviceList g_next;
}  // namespace

DeviceList& Devices() { return g_devices; }
DeviceList& NextDevices() { return g_next; }

void DeviceList::swap(DeviceList& other) {
    DeviceRecord* const records = records_;
    const uint32_t count = count_, capacity = capacity_;
    records_ = other.records_;
    count_ = other.count_;
    capacity_ = other.capacity_;
    other.records_ = records;
    other.count_ = count;
    other.capacity_ = capacity;
}

DeviceList::~DeviceList() {
    std::free(records_);
    records_ = nullptr;
    count_ = capacity_ = 0;
}

bool DeviceList::append(const DeviceRecord& record) {
    if (count_ == capacity_) {
        const uint32_t grown = count_ + (count_ > 0 ? count_ : 1);
        if (grown < count_ || grown > SIZE_MAX / sizeof(DeviceRecord)) return false;
        auto* storage = static_cast<DeviceRecord*>(std::malloc(grown * sizeof(DeviceRecord)));
        if (storage == nullptr) return false;
        if (count_ > 0) std::memcpy(storage, records_, count_ * sizeof(DeviceRecord));
        std::free(records_);
        records_ = storage;
        capacity_ = grown;
    }
    records_[count_++] = record;
    return true;
}

}  // namespace fotex
