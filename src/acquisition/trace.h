#pragma once

#include <windows.h>

namespace fotex {

// One line on the host's standard output: "message: HRESULT: 0x%08X", or the message alone when
// the HRESULT is 0. Flushed at once, so a host reading the output through a pipe sees it now.
// While a routine is set, the line goes to it instead, without its newline.
void TraceHresult(const char* message, HRESULT hr);

// The host's log routine (null: standard output again); it must not call the library.
using TraceRoutine = void(__cdecl*)(void* context, const char* line);
void SetTraceRoutine(TraceRoutine routine, void* context);

}  // namespace fotex
