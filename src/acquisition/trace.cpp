#include "trace.h"

#include <cstdio>

namespace fotex {

namespace {

// The host's routine and its context, swapped together under the lock; lines go to it while set.
SRWLOCK g_logLock = SRWLOCK_INIT;
TraceRoutine g_routine = nullptr;
void* g_context = nullptr;

}  // namespace

void SetTraceRoutine(TraceRoutine routine, void* context) {
    AcquireSRWLockExclusive(&g_logLock);
    g_routine = routine;
    g_context = context;
    ReleaseSRWLockExclusive(&g_logLock);
}

// The C++ headers turn printf into mingw's own 20 KiB implementation; msvcrt's, called by its
// own name, is smaller and writes to the stdout the host shares with the DLL.
void TraceHresult(const char* message, HRESULT hr) {
    AcquireSRWLockShared(&g_logLock);
    if (g_routine != nullptr) {
        // Shared: lines from several threads reach the routine at once, as documented.
        char line[512];
        size_t length = 0;
        while (message[length] != '\0' && length < sizeof line - 32) {
            line[length] = message[length];
            ++length;
        }
        line[length] = '\0';
        if (hr != 0) __ms_sprintf(line + length, ": HRESULT: 0x%08X", static_cast<unsigned>(hr));
        g_routine(g_context, line);
        ReleaseSRWLockShared(&g_logLock);
        return;
    }
    ReleaseSRWLockShared(&g_logLock);
    if (hr != 0) {
        __ms_printf("%s: HRESULT: 0x%08X\n", message, static_cast<unsigned>(hr));
    } else {
        __ms_printf("%s\n", message);
    }
    std::fflush(stdout);
}

}  // namespace fotex
