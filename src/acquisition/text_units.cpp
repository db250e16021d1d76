// Text into a buffer whose size the host passes: the one rule for every such buffer.
#include "text_units.h"

namespace fotex {

bool TextFits(int bytes, const TextPiece* pieces, int count) {
    uint64_t units = 1;
    for (int i = 0; i < count; ++i) units += pieces[i].units;
    return bytes >= 0 && units * sizeof(WCHAR) <= static_cast<uint64_t>(bytes);
}

int PutText(void* out, int bytes, const TextPiece* pieces, int count) {
    if (!TextFits(bytes, pieces, count)) return FOTEX_E_INSUFFICIENT_BUFFER;
    auto* to = static_cast<WCHAR*>(out);
    for (int i = 0; i < count; ++i)
        for (uint32_t u = 0; u < pieces[i].units; ++u) *to++ = pieces[i].text[u];
    *to = 0;
    return FOTEX_OK;
}

}  // namespace fotex
