// The log panel: lines appended to a multi-line edit, in order, never cleared.
// Appending one line at a time to a visible edit is slow, so lines are
// collected and added in one replacement when the message queue is next idle
// (or when many are waiting), with one repaint.
#pragma once

#include "main/views/Controls.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

class LogPanel {
  public:
    // Lines waiting beyond this many are shown at once, even in a busy queue.
    static constexpr size_t kMaxPendingLines = 4096;

    // Lifts the edit's text limit, so the log never stops taking lines.
    explicit LogPanel(HWND edit);
    // Creates its own read-only edit with a vertical scroll bar, which Tab leaves.
    LogPanel(HWND parent, int id, const controls::Place& place, HFONT font);
    ~LogPanel();
    LogPanel(const LogPanel&) = delete;
    LogPanel& operator=(const LogPanel&) = delete;

    // Appends `line` (system code page) followed by a line break.
    void Append(std::string_view line);
    // Shows the pending lines now.
    void Flush();
    // The edit's text with the pending lines, as the panel will show it.
    std::string Text() const;
    size_t PendingLines() const { return pendingLines_; }
    HWND Handle() const { return edit_; }

  private:
    static void CALLBACK IdleTimer(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
    UINT_PTR TimerId() const { return reinterpret_cast<UINT_PTR>(this); }

    HWND edit_;
    std::wstring pending_;
    size_t pendingLines_ = 0;
    bool timerSet_ = false;
};
