// The hourglass over a window from a mass change until no posted message
// waits in its queue: by then the change's notifications have all been handled.
#pragma once

#include "ui/Window.h"

#include <windows.h>

class BusyCursor {
  public:
    // Comes only once nothing else waits in the queue: timers are handed out last.
    static constexpr UINT_PTR kIdleTimer = 1;

    explicit BusyCursor(const ui::Window& window) : window_(window) {}
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

    // The hourglass from now until the queue is idle.
    void UntilIdle();
    // Ends the busy time when `timer` is its timer; false for any other timer.
    bool OnTimer(UINT_PTR timer);
    // Sets the hourglass while busy; false when the cursor is left to others.
    bool SetCursorIfBusy() const;
    bool Busy() const { return busy_; }

  private:
    const ui::Window& window_;
    bool busy_ = false;
};
