// The integer a property value holds, whatever integer type the camera gives it in: the one
// reading of integers that the settings and the item facts share.
#pragma once

#include <windows.h>

#include <climits>

#include "fotex.h"

namespace fotex {

// The value as an int in *out: S_OK; FOTEX_E_OVERFLOW beyond an int's range, except that with
// `bitPatterns` an unsigned 32-bit value (VT_UI4, VT_UINT) arrives as its bit pattern;
// FOTEX_E_NOT_FOUND for VT_EMPTY; FOTEX_E_TYPE for anything but an integer.
inline HRESULT IntValue(const PROPVARIANT& v, int* out, bool bitPatterns) {
    LONGLONG value = 0;
    switch (v.vt) {
        case VT_I1: value = v.cVal; break;
        case VT_UI1: value = v.bVal; break;
        case VT_I2: value = v.iVal; break;
        case VT_UI2: value = v.uiVal; break;
        case VT_I4: value = v.lVal; break;
        case VT_INT: value = v.intVal; break;
        case VT_UI4: value = bitPatterns ? static_cast<LONG>(v.ulVal) : static_cast<LONGLONG>(v.ulVal); break;
        case VT_UINT: value = bitPatterns ? static_cast<int>(v.uintVal) : static_cast<LONGLONG>(v.uintVal); break;
        case VT_I8: value = v.hVal.QuadPart; break;
        case VT_UI8:
            if (v.uhVal.QuadPart > static_cast<ULONGLONG>(INT_MAX)) return FOTEX_E_OVERFLOW;
            value = static_cast<LONGLONG>(v.uhVal.QuadPart);
            break;
        case VT_EMPTY: return FOTEX_E_NOT_FOUND;
        default: return FOTEX_E_TYPE;
    }
    if (value < INT_MIN || value > INT_MAX) return FOTEX_E_OVERFLOW;
    *out = static_cast<int>(value);
    return S_OK;
}

}  // namespace fotex
