// Waiting on a single-threaded apartment's thread while its window messages are handled, by one
// set of rules for every wait of the library: window messages are dispatched, a thread message
// (no window; a thread timer's tick without a routine; WM_QUIT) is the host's loop's and is left
// in its place, nothing is taken from the queue and put back.
#pragma once

#include <windows.h>

namespace fotex {

enum class MessageStep {
    Handled,        // one window message was dispatched
    Waited,         // nothing came, or `signal` was set, or `waitMs` passed
    ThreadMessage,  // the next message is the host's: the wait should end or stop handling
};

// Dispatches the next window message when there is one, else waits up to `waitMs` for a message
// or for `signal` (null: none).
MessageStep HandleNextMessage(HANDLE signal, DWORD waitMs);

}  // namespace fotex
