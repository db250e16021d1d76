#include "device_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fotex {

namespace {
// Constant-initialised, so it exists before the entry point runs; its destructor runs after
// the entry point's process-detach branch.
DeviceLists g_devices;
}  // namespace

DeviceLists& Devices() { return g_devices; }

DeviceLists::~DeviceLists() {
    std::free(block_);
    block_ = nullptr;
    half_ = counts_[0] = counts_[1] = 0;
}

bool DeviceLists::appendNext(const DeviceRecord& record) {
    const unsigned next = shown_ ^ 1;
    if (counts_[next] == half_) {
        const uint32_t grown = half_ > 0 ? 2 * half_ : 1;
        if (grown < half_ || grown > SIZE_MAX / 2 / sizeof(DeviceRecord)) return false;
        auto* block = static_cast<DeviceRecord*>(std::realloc(block_, 2 * size_t{grown} * sizeof(DeviceRecord)));
        if (block == nullptr) return false;
        // List 1 moves up to its new start; list 0 stays where it was.
        std::memmove(block + grown, block + half_, counts_[1] * sizeof(DeviceRecord));
        block_ = block;
        half_ = grown;
    }
    block_[next * half_ + counts_[next]++] = record;
    return true;
}

}  // namespace fotex
