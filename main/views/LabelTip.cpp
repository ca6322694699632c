#include "main/views/LabelTip.h"

#include "ui/Handles.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace {

constexpr UINT_PTR kSubclassId = 0x7A1B;

TOOLINFOW Tool(HWND control) {
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE; // what every version of the control takes
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
    tool.hwnd = control;
    tool.uId = 1;
    return tool;
}

} // namespace

LabelTip::~LabelTip() {
    Detach();
}

void LabelTip::Attach(HWND control, Finder finder) {
    Detach();
    control_ = control;
    finder_ = std::move(finder);
    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                           WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0, 0, control, nullptr,
                           nullptr, nullptr);
    if (!tip_)
        return;
    TOOLINFOW tool = Tool(control);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, WM_SETFONT, SendMessageW(control, WM_GETFONT, 0, 0), FALSE);
    SetWindowSubclass(control, Proc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void LabelTip::Detach() {
    if (control_)
        RemoveWindowSubclass(control_, Proc, kSubclassId);
    if (tip_ && IsWindow(tip_))
        DestroyWindow(tip_);
    control_ = tip_ = nullptr;
    shown_.clear();
}

void LabelTip::Hide() {
    if (!tip_ || shown_.empty())
        return;
    TOOLINFOW tool = Tool(control_);
    SendMessageW(tip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    shown_.clear();
}

void LabelTip::Show(const Label& label) {
    RECT row = label.place;
    MapWindowPoints(control_, HWND_DESKTOP, reinterpret_cast<POINT*>(&row), 2);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromRect(&row, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT work = monitor.rcWork;
    // What the tip adds around its text, its border too where the tip's own
    // answer leaves it out: the text may take the rest of the width.
    RECT frame{0, 0, 0, 0}, border{0, 0, 0, 0};
    SendMessageW(tip_, TTM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&frame));
    AdjustWindowRectEx(&border, static_cast<DWORD>(GetWindowLongW(tip_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(tip_, GWL_EXSTYLE)));
    const int overhead = (frame.right - frame.left) + (border.right - border.left);
    const std::wstring text = Fitted(label.text, (work.right - work.left) - overhead);
    TOOLINFOW tool = Tool(control_);
    tool.lpszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // Over the label, its text in line with the label's (the tip lets the
    // pointer through): below it, the tip would cover the next row's text.
    RECT place = row;
    SendMessageW(tip_, TTM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&place));
    SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(place.left, place.top));
    SendMessageW(tip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    // Now that the tip has its size: centred on the row, inside the work area.
    RECT tip{};
    GetWindowRect(tip_, &tip);
    const int width = tip.right - tip.left;
    const int height = tip.bottom - tip.top;
    const int x = std::max<int>(work.left, std::min<int>(place.left, work.right - width));
    const int centred = row.top + ((row.bottom - row.top) - height) / 2;
    const int y = std::max<int>(work.top, std::min<int>(centred, work.bottom - height));
    // Some tips stand a border off the point they are given: once more, allowing for it.
    POINT at{x, y};
    for (int attempt = 0; attempt < 2; ++attempt) {
        SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(at.x, at.y));
        GetWindowRect(tip_, &tip);
        if (tip.left == x && tip.top == y)
            break;
        at = {at.x + (x - tip.left), at.y + (y - tip.top)};
    }
    shown_ = label.text;
    shownPlace_ = label.place;
}

std::wstring LabelTip::Fitted(const std::wstring& text, int width) const {
    ui::WindowDC screen(tip_);
    HDC dc = screen.Get();
    if (!dc)
        return text;
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(tip_, WM_GETFONT, 0, 0)));
    auto fits = [&](const std::wstring& candidate) {
        SIZE extent{};
        GetTextExtentPoint32W(dc, candidate.c_str(), static_cast<int>(candidate.size()), &extent);
        return extent.cx <= width;
    };
    std::wstring result = text;
    if (!fits(text)) {
        // The longest start that fits with the ellipsis, never half a surrogate pair.
        size_t low = 0, high = text.size();
        while (low < high) {
            const size_t middle = (low + high + 1) / 2;
            if (fits(text.substr(0, middle) + L"\x2026"))
                low = middle;
            else
                high = middle - 1;
        }
        if (low > 0 && IS_HIGH_SURROGATE(text[low - 1]))
            --low;
        result = text.substr(0, low) + L"\x2026";
    }
    SelectObject(dc, old);
    return result;
}

void LabelTip::RestAt(POINT client) {
    Label label;
    if (tip_ && finder_ && finder_(client, label) && !label.text.empty())
        Show(label);
}

void LabelTip::OnMove(POINT client) {
    if (!shown_.empty() && !PtInRect(&shownPlace_, client))
        Hide();
    if (shown_.empty()) {
        // Every move starts the wait again: the tip comes once the pointer rests.
        TRACKMOUSEEVENT track{sizeof track, TME_HOVER | TME_LEAVE, control_, HOVER_DEFAULT};
        TrackMouseEvent(&track);
    }
}

LRESULT CALLBACK LabelTip::Proc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<LabelTip*>(data);
    try {
        switch (message) {
        case WM_MOUSEMOVE:
            self->OnMove({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
        case WM_MOUSEHOVER: {
            // Not for a label hidden under another window (the find box).
            POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            POINT screen = at;
            ClientToScreen(control, &screen);
            if (WindowFromPoint(screen) == control)
                self->RestAt(at);
            break;
        }
        case WM_MOUSELEAVE:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MOUSEWHEEL:
        case WM_VSCROLL:
        case WM_HSCROLL:
        case WM_KEYDOWN:
        case WM_KILLFOCUS:
            self->Hide();
            break;
        case WM_NCDESTROY: {
            RemoveWindowSubclass(control, Proc, id);
            self->control_ = nullptr;
            self->Detach();
            break;
        }
        default:
            break;
        }
    } catch (...) {
        // Out of memory: no tip rather than an exception through the window procedure.
    }
    return DefSubclassProc(control, message, wParam, lParam);
}
