// Stops a control from repainting for the guard's lifetime and repaints it at
// the end, also when the work in between throws.
#pragma once

#include <windows.h>

class RedrawGuard {
  public:
    explicit RedrawGuard(HWND control) : control_(control) {
        SendMessageW(control_, WM_SETREDRAW, FALSE, 0);
    }
    ~RedrawGuard() {
        SendMessageW(control_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(control_, nullptr, TRUE);
    }
    RedrawGuard(const RedrawGuard&) = delete;
    RedrawGuard& operator=(const RedrawGuard&) = delete;

  private:
    HWND control_;
};
