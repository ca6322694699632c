// The hourglass until the queue is idle.
#include "ui/WaitCursor.h"

namespace ui {

void IdleWaitCursor::UntilIdle() {
    HWND hwnd = window_.Hwnd();
    if (!hwnd)
        return;
    busy_ = SetTimer(hwnd, kIdleTimer, USER_TIMER_MINIMUM, nullptr) != 0;
    if (busy_)
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

bool IdleWaitCursor::OnTimer(UINT_PTR timer) {
    if (timer != kIdleTimer)
        return false;
    HWND hwnd = window_.Hwnd();
    KillTimer(hwnd, kIdleTimer);
    busy_ = false;
    RefreshCursor(hwnd);
    return true;
}

bool IdleWaitCursor::SetCursorIfBusy() const {
    if (!busy_)
        return false;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    return true;
}

} // namespace ui
