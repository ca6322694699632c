#include "main/views/LogPanel.h"

#include "ui/Dialog.h"
#include "ui/Text.h"

#include <commctrl.h>

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
    pending_ += ui::FromAnsi(line);
    pending_ += L"\r\n";
    ++pendingLines_;
    if (pendingLines_ >= kMaxPendingLines) {
        Flush();
        return;
    }
    // A timer message comes only when no other message is waiting: the burst
    // that is writing these lines is over by then.
    if (!timerSet_)
        timerSet_ = SetTimer(edit_, TimerId(), USER_TIMER_MINIMUM, IdleTimer) != 0;
    if (!timerSet_)
        Flush();
}

void LogPanel::Flush() {
    if (timerSet_) {
        KillTimer(edit_, TimerId());
        timerSet_ = false;
    }
    if (pending_.empty())
        return;
    std::wstring text;
    text.swap(pending_);
    pendingLines_ = 0;
    LRESULT end = GetWindowTextLengthW(edit_);
    SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string LogPanel::Text() const {
    int length = GetWindowTextLengthW(edit_);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), length + 1)));
    return ui::ToAnsi(text + pending_);
}

void CALLBACK LogPanel::IdleTimer(HWND, UINT, UINT_PTR id, DWORD) {
    // Runs from the message loop: nothing may escape.
    try {
        reinterpret_cast<LogPanel*>(id)->Flush();
    } catch (...) {
    }
}
