// Wait cursors: the hourglass while a step runs without taking messages, and
// a way to let the pointer show what lies under it again once work ends.
#pragma once

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

} // namespace ui
