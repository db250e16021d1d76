#include "trace.h"

#include <cstdio>

namespace fotex {

// The C++ headers turn printf into mingw's own 20 KiB implementation; msvcrt's, called by its
// own name, is smaller and writes to the stdout the host shares with the DLL.
void TraceHresult(const char* message, HRESULT hr) {
    if (hr != 0) {
        __ms_printf("%s: HRESULT: 0x%08X\n", message, static_cast<unsigned>(hr));
    } else {
        __ms_printf("%s\n", message);
    }
    std::fflush(stdout);
}

}  // namespace fotex
