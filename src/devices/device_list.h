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

// The list the host reads and the one an enumeration fills beside it, swapped in when the
// enumeration ends: a handler that runs during the enumeration reads the previous list whole.
// Both lists live in one block, halves of equal capacity, so the list swapped out keeps room for
// the next enumeration and a second enumeration of as many devices allocates nothing. The block
// only grows (1, 2, 4, 8, ... records a list) and is freed when the library unloads.
class DeviceLists {
public:
    constexpr DeviceLists() = default;
    DeviceLists(const DeviceLists&) = delete;
    DeviceLists& operator=(const DeviceLists&) = delete;
    ~DeviceLists();

    // The list the host reads.
    uint32_t count() const { return counts_[shown_]; }
    const DeviceRecord& at(uint32_t index) const { return block_[shown_ * half_ + index]; }

    // The list being filled: emptied, appended to, then shown in place of the other.
    void startNext() { counts_[shown_ ^ 1] = 0; }
    // False when storage for the record cannot be had; both lists are unchanged then.
    bool appendNext(const DeviceRecord& record);
    void showNext() { shown_ ^= 1; }

private:
    DeviceRecord* block_ = nullptr;  // list 0, then list 1 at block_ + half_
    uint32_t half_ = 0;
    uint32_t counts_[2] = {0, 0};
    unsigned shown_ = 0;
};

DeviceLists& Devices();

}  // namespace fotex
