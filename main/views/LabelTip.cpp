#include "main/views/LabelTip.h"

#include <commctrl.h>
#include <windowsx.h>

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
    TOOLINFOW tool = Tool(control_);
    tool.lpszText = const_cast<wchar_t*>(label.text.c_str());
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    // Just below the label, its text in line with the label's: over it, the
    // tip would take the clicks meant for the control on some systems.
    RECT place = label.place;
    MapWindowPoints(control_, HWND_DESKTOP, reinterpret_cast<POINT*>(&place), 2);
    const int below = place.bottom + 1;
    SendMessageW(tip_, TTM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&place));
    SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(place.left, below));
    SendMessageW(tip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    shown_ = label.text;
    shownPlace_ = label.place;
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
        case WM_MOUSEHOVER:
            self->RestAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            break;
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
