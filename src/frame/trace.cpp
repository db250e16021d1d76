#include "trace.h"

#include <cstdio>

namespace fotex {

void TraceHresult(const char* message, HRESULT hr) {
    if (hr != 0) {
        std::printf("%s: HRESULT: 0x%08X\n", message, static_cast<unsigned>(hr));
    } else {
        std::printf("%s\n", message);
    }
    std::fflush(stdout);
}

}  // namespace fotex
