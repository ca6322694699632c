// The log panel: lines appended to a multi-line edit, in order, never cleared.
// The edit measures every line it takes, which costs tens of microseconds a
// line under Wine, so lines are collected and added in slices of a few tens of
// milliseconds each when the message queue is idle, the queue answered in
// between; a burst that keeps the queue busy still shows a slice now and then.
#pragma once

#include "main/views/Controls.h"

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

class LogPanel {
  public:
    // About how long one slice of waiting lines may take the edit.
    static constexpr double kSliceMs = 40;
    // In a busy queue, a slice at most this often.
    static constexpr double kBusyEveryMs = 500;
    static constexpr size_t kMinSliceLines = 2048;

    // Lifts the edit's text limit, so the log never stops taking lines.
    explicit LogPanel(HWND edit);
    // Creates its own read-only edit with a vertical scroll bar, which Tab leaves.
    LogPanel(HWND parent, int id, const controls::Place& place, HFONT font);
    ~LogPanel();
    LogPanel(const LogPanel&) = delete;
    LogPanel& operator=(const LogPanel&) = delete;

    // Appends `line` (system code page) followed by a line break.
    void Append(std::string_view line);
    // Shows every pending line now.
    void Flush();
    // The edit's text with the pending lines, as the panel will show it.
    std::string Text() const;
    size_t PendingLines() const { return pendingLines_; }
    HWND Handle() const { return edit_; }

  private:
    static void CALLBACK IdleTimer(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
    UINT_PTR TimerId() const { return reinterpret_cast<UINT_PTR>(this); }
    // Shows about `budgetMs` worth of the pending lines, at least one.
    void ShowSlice(double budgetMs);
    // Shows the first `lines` pending lines, `chars` long.
    void Show(size_t chars, size_t lines);

    HWND edit_;
    std::wstring pending_; // the pending lines from pendingFrom_ on
    size_t pendingFrom_ = 0;
    size_t pendingLines_ = 0;
    size_t sliceLines_ = kMinSliceLines; // lines a slice takes, as the last ones took
    double waitingSince_ = 0;            // the oldest pending line, or the last slice
    bool timerSet_ = false;
};
