// The process-wide list of the devices that the last enumeration found.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "text_units.h"

namespace fotex {

// The record keeps Fotex 1.3's field size; only the first kFieldTextUnits units hold text, and
// the zeros after it keep every field terminated.
constexpr size_t kFieldUnits = 129;
constexpr size_t kFieldTextUnits = kHostTextUnits;

struct DeviceRecord {
    WCHAR id[kFieldUnits];
    WCHAR name[kFieldUnits];
    WCHAR description[kFieldUnits];
};

// A growable array of fixed-size records. Its storage only grows (1, 2, 4, 8, ...) and is
// reused by the enumerations; it is freed when the library unloads.
class DeviceList {
public:
    constexpr DeviceList() = default;
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    ~DeviceList();

    uint32_t count() const { return count_; }
    uint32_t capacity() const { return capacity_; }
    const DeviceRecord& at(uint32_t index) const { return records_[index]; }

    void clear() { count_ = 0; }
    // False when storage for the record cannot be had; the list is unchanged then.
    bool append(const DeviceRecord& record);
    // Exchanges contents and storage, allocating nothing.
    void swap(DeviceList& other);

private:
    DeviceRecord* records_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
};

// The list the host reads.
DeviceList& Devices();
// The list an enumeration fills beside it, swapped in when the enumeration ends: a handler that
// runs during the enumeration reads the previous list whole. Its storage is kept for the next one.
DeviceList& NextDevices();

}  // namespace fotex
