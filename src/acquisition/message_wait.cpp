#include "message_wait.h"

namespace fotex {

namespace {
bool HostsOwn(const MSG& m) { return m.hwnd == nullptr && (m.message != WM_TIMER || m.lParam == 0); }
}  // namespace

MessageStep HandleNextMessage(HANDLE signal, DWORD waitMs) {
    // The next message is only looked at first, so that a thread message keeps its place.
    MSG next;
    if (PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE)) {
        // A thread timer's tick with a routine of its own is the one that DispatchMessage runs.
        if (HostsOwn(next)) return MessageStep::ThreadMessage;
        // Taken by its window and number, so that a thread message come before it meanwhile
        // stays; a tick has no window, and a WM_TIMER posted to the thread is caught here.
        MSG message;
        if (!PeekMessageW(&message, next.hwnd, next.message, next.message, PM_REMOVE)) return MessageStep::ThreadMessage;
        if (HostsOwn(message)) {
            // A WM_TIMER posted to the thread in between: the host's, as near its place as can be.
            PostThreadMessageW(GetCurrentThreadId(), message.message, message.wParam, message.lParam);
            return MessageStep::ThreadMessage;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
        return MessageStep::Handled;
    }
    if (waitMs == 0) return MessageStep::Waited;
    MsgWaitForMultipleObjectsEx(signal != nullptr ? 1 : 0, signal != nullptr ? &signal : nullptr, waitMs, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    return MessageStep::Waited;
}

}  // namespace fotex
