// The four behaviours behind every camera-setting export (the exports only name the property),
// the valid values of any property, and the settings by id with their names.
#pragma once

#include <windows.h>
#include <propidl.h>

#include <cstddef>

#include "fotex.h"

namespace fotex {

int ReadIntegerProperty(FOTEX_DEVICE device, PROPID id, int* value);
int WriteIntegerProperty(FOTEX_DEVICE device, PROPID id, int value);
int ReadTextProperty(FOTEX_DEVICE device, PROPID id, void* buffer);
int WriteTextProperty(FOTEX_DEVICE device, PROPID id, const char* text);

// The valid values of a property as its attributes give them: a range, a list or a mask of
// flags. The list stays in the attribute it was decoded from, so it lives as long as that.
struct Choices {
    int kind = FOTEX_CHOICES_ANY;
    int nominal = 0;
    LONG range[3] = {};  // minimum, maximum, step: not in this order in the attribute
    const void* elements = nullptr;  // the attribute's vector, of 8-, 16- or 32-bit integers
    VARTYPE type = VT_EMPTY;         // their type
    ULONG first = 0;                 // where the list or the mask starts in it
    ULONG count = 0;
    // Limits and values are unsigned 32-bit: compared as such, not as ints.
    bool isUnsigned = false;
    LONG Value(ULONG i) const;
    // Whether a write of `value` (a bit pattern when unsigned) stays within these choices.
    bool Admits(int value) const;
};

// A form whose vector is too short for its parts, or not of integers, counts as no restriction.
Choices DecodeChoices(ULONG flags, const PROPVARIANT& attribute);

// GetSettingChoices: the property's access and valid values, from its attributes.
int ReadSettingChoices(FOTEX_DEVICE device, int propertyId, int* access, int* kind, int* nominal, int* values,
                       int capacity, int* count);

// Copies `units` UTF-16 units and a terminator into the host's buffer of `bytes` bytes, or
// writes nothing and returns FOTEX_E_INSUFFICIENT_BUFFER.
int PutUtf16(void* out, int bytes, const WCHAR* text, size_t units);

}  // namespace fotex
