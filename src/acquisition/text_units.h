// How much text crosses the boundary with the host, in UTF-16 units.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "fotex.h"

namespace fotex {

// Text from the host (file names, property text) is widened into this many units, terminator
// included: at most FOTEX_MAX_FILE_NAME units of text.
constexpr size_t kWideTextUnits = FOTEX_MAX_FILE_NAME + 1;

// Text to the host is copied raw into its buffer of FOTEX_TEXT_BYTES bytes: at most this many units.
constexpr size_t kHostTextUnits = FOTEX_TEXT_BYTES / sizeof(WCHAR);

// Pieces of text for a buffer whose size the host passes: they and a terminator fit in `bytes`
// bytes, or FOTEX_E_INSUFFICIENT_BUFFER and nothing is written.
struct TextPiece {
    const WCHAR* text;
    uint32_t units;
};
bool TextFits(int bytes, const TextPiece* pieces, int count);
// Copies the pieces, then a terminator, into `out`: FOTEX_OK, or FOTEX_E_INSUFFICIENT_BUFFER.
int PutText(void* out, int bytes, const TextPiece* pieces, int count);

}  // namespace fotex
