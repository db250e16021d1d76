// Storage for a growable array of plain records, without exceptions: a failed allocation is a
// result, and the array stays as it was.
#pragma once

#include <cstdint>
#include <cstdlib>

namespace fotex {

// Capacity for one more record beyond `count`, doubling from `first`; false when it cannot be had.
template <class T>
bool GrowForOneMore(T*& records, uint32_t count, uint32_t& capacity, uint32_t first) {
    if (count < capacity) return true;
    const uint32_t grown = count + (count > 0 ? count : first);
    if (grown < count || grown > SIZE_MAX / sizeof(T)) return false;
    auto* storage = static_cast<T*>(std::realloc(records, grown * sizeof(T)));
    if (storage == nullptr) return false;
    records = storage;
    capacity = grown;
    return true;
}

}  // namespace fotex
