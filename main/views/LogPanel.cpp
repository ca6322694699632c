#include "main/views/LogPanel.h"

#include "ui/Clock.h"
#include "ui/Dialog.h"
#include "ui/Text.h"

#include <commctrl.h>

#include <algorithm>

namespace {

HWND MakeMemo(HWND parent, int id, const controls::Place& place, HFONT font) {
    HWND edit = controls::MakeChild(
        L"EDIT", L"", ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | WS_VSCROLL | WS_TABSTOP,
        WS_EX_CLIENTEDGE, place, parent, id, font);
    // Tab leaves the log for the next control instead of going into the text.
    ui::KeepKey(edit, VK_TAB, false);
    return edit;
}

} // namespace

LogPanel::LogPanel(HWND edit) : edit_(edit) {
    // 0 asks for the largest limit a multi-line edit allows.
    SendMessageW(edit_, EM_SETLIMITTEXT, 0, 0);
}

LogPanel::LogPanel(HWND parent, int id, const controls::Place& place, HFONT font)
    : LogPanel(MakeMemo(parent, id, place, font)) {}

LogPanel::~LogPanel() {
    if (timerSet_)
        KillTimer(edit_, TimerId());
}

void LogPanel::Append(std::string_view line) {
    if (pendingLines_ == 0)
        waitingSince_ = ui::NowMs();
    pending_ += ui::FromAnsi(line);
    pending_ += L"\r\n";
    ++pendingLines_;
    // A timer message comes only when no other message is waiting: the burst
    // that is writing these lines is over by then.
    if (!timerSet_)
        timerSet_ = SetTimer(edit_, TimerId(), USER_TIMER_MINIMUM, IdleTimer) != 0;
    if (!timerSet_)
        Flush();
    else if (ui::NowMs() - waitingSince_ >= kBusyEveryMs)
        ShowSlice(kSliceMs);
}

void LogPanel::Flush() {
    if (timerSet_) {
        KillTimer(edit_, TimerId());
        timerSet_ = false;
    }
    Show(pending_.size() - pendingFrom_, pendingLines_);
}

void LogPanel::ShowSlice(double budgetMs) {
    if (pendingLines_ == 0)
        return;
    const size_t lines = std::min(pendingLines_, sliceLines_);
    size_t end = pendingFrom_;
    for (size_t line = 0; line < lines; ++line)
        end = pending_.find(L'\n', end) + 1;
    const double start = ui::NowMs();
    Show(end - pendingFrom_, lines);
    const double took = ui::NowMs() - start;
    // A call also costs the edit something of its own, more as its text
    // grows, so a slice never shrinks below kMinSliceLines (small slices
    // would spend the budget on that); it grows or shrinks at most twofold.
    if (lines == sliceLines_ && took > 0) {
        const double scaled = static_cast<double>(sliceLines_) * budgetMs / took;
        sliceLines_ = static_cast<size_t>(std::clamp(scaled, static_cast<double>(sliceLines_) / 2,
                                                     static_cast<double>(sliceLines_) * 2));
        sliceLines_ = std::max(sliceLines_, kMinSliceLines);
    }
    waitingSince_ = ui::NowMs();
}

void LogPanel::Show(size_t chars, size_t lines) {
    if (lines == 0)
        return;
    const std::wstring text = pending_.substr(pendingFrom_, chars);
    pendingFrom_ += chars;
    pendingLines_ -= lines;
    if (pendingLines_ == 0) {
        pending_.clear();
        pendingFrom_ = 0;
    } else if (pendingFrom_ > pending_.size() / 2) {
        pending_.erase(0, pendingFrom_);
        pendingFrom_ = 0;
    }
    LRESULT end = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string LogPanel::Text() const {
    int length = GetWindowTextLengthW(edit_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), length + 1)));
    return ui::ToAnsi(text + pending_.substr(pendingFrom_));
}

void CALLBACK LogPanel::IdleTimer(HWND, UINT, UINT_PTR id, DWORD) {
    // Runs from the message loop: nothing may escape.
    try {
        auto* panel = reinterpret_cast<LogPanel*>(id);
        panel->ShowSlice(kSliceMs);
        // The timer comes again while lines wait, after input and paints.
        if (panel->pendingLines_ == 0 && panel->timerSet_) {
            KillTimer(panel->edit_, panel->TimerId());
            panel->timerSet_ = false;
        }
    } catch (...) {
    }
}
