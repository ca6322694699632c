// The wait cursor: the hourglass while a step runs without taking messages,
// or from a mass change until the queue is idle, and a way to let the pointer
// show what lies under it again once work ends.
#pragma once

#include "ui/Window.h"

#include <windows.h>

namespace ui {

// Lets the window under the pointer choose its cursor again, if it is
// `window` or one of its children.
inline void RefreshCursor(HWND window) {
    POINT at{};
    if (!window || !GetCursorPos(&at))
        return;
    HWND under = WindowFromPoint(at);
    if (!under || (under != window && !IsChild(window, under)))
        return;
    const auto hit = static_cast<WORD>(
        SendMessageW(under, WM_NCHITTEST, 0, MAKELPARAM(static_cast<SHORT>(at.x), at.y)));
    SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under),
                 MAKELPARAM(hit, WM_MOUSEMOVE));
}

// The hourglass until it goes; the cursor that was showing comes back then.
class WaitCursor {
  public:
    WaitCursor() : previous_(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(previous_); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    HCURSOR previous_;
};

// The hourglass over a window from a mass change until no posted message
// waits in its queue: by then the change's notifications have all been handled.
// The window hands it its timer and cursor messages.
class IdleWaitCursor {
  public:
    // Comes only once nothing else waits in the queue: timers are handed out last.
    static constexpr UINT_PTR kIdleTimer = 1;

    explicit IdleWaitCursor(const Window& window) : window_(window) {}
    IdleWaitCursor(const IdleWaitCursor&) = delete;
    IdleWaitCursor& operator=(const IdleWaitCursor&) = delete;

    // The hourglass from now until the queue is idle.
    void UntilIdle();
    // Ends the busy time when `timer` is its timer; false for any other timer.
    bool OnTimer(UINT_PTR timer);
    // Sets the hourglass while busy; false when the cursor is left to others.
    bool SetCursorIfBusy() const;
    bool Busy() const { return busy_; }

  private:
    const Window& window_;
    bool busy_ = false;
};

} // namespace ui
