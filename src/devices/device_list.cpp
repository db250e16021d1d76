#include "device_list.h"

#include <cstdlib>

#include "growable.h"

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
    if (!GrowForOneMore(records_, count_, capacity_, 1)) return false;
    records_[count_++] = record;
    return true;
}

}  // namespace fotex
