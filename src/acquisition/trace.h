#pragma once

#include <windows.h>

namespace fotex {

// One line on the host's standard output: "message: HRESULT: 0x%08X", or the message alone when
// the HRESULT is 0. Flushed at once, so a host reading the output through a pipe sees it now.
void TraceHresult(const char* message, HRESULT hr);

}  // namespace fotex
