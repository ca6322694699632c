#include "Dialog.h"

#include "Dpi.h"
#include "Errors.h"

#include <commctrl.h>

#include <algorithm>
#include <stdexcept>

namespace ui {

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

namespace {

// The subclass id is the key; the reference data says whether to take it.
LRESULT CALLBACK KeyProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR key,
                         DWORD_PTR take) {
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefSubclassProc(control, message, wParam, lParam);
        auto* pressed = reinterpret_cast<const MSG*>(lParam);
        if (pressed && pressed->message == WM_KEYDOWN && pressed->wParam == key)
            code = take ? code | DLGC_WANTMESSAGE : code & ~(DLGC_WANTALLKEYS | DLGC_WANTTAB);
        return code;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(control, KeyProc, key);
    return DefSubclassProc(control, message, wParam, lParam);
}

} // namespace

void KeepKey(HWND control, WPARAM key, bool take) {
    SetWindowSubclass(control, KeyProc, key, take ? 1 : 0);
}

Dialog::Dialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}

Dialog::~Dialog() {
    Destroy();
}

void Dialog::Destroy() {
    if (hwnd_) {
        HWND hwnd = hwnd_;
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        hwnd_ = nullptr;
        DestroyWindow(hwnd);
    }
}

bool Dialog::Create(HWND owner) {
    if (hwnd_)
        return true;
    initFailure_ = nullptr;
    CreateDialogParamW(instance_, MAKEINTRESOURCEW(templateId_), owner, StaticProc,
                       reinterpret_cast<LPARAM>(this));
    if (initFailure_) {
        Destroy();
        std::rethrow_exception(std::exchange(initFailure_, nullptr));
    }
    return hwnd_ != nullptr;
}

INT_PTR Dialog::RunModal(HWND owner) {
    Destroy();
    // The owner is no dialog, so nothing else gives its control the focus back.
    const HWND focused = GetFocus();
    modal_ = true;
    ended_ = false;
    initFailure_ = nullptr;
    const INT_PTR ended = DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId_), owner,
                                          StaticProc, reinterpret_cast<LPARAM>(this));
    modal_ = false;
    if (initFailure_)
        std::rethrow_exception(std::exchange(initFailure_, nullptr));
    if (ended == -1)
        throw std::runtime_error("Cannot create the dialog window");
    if (focused && IsWindow(focused) && GetFocus() != focused)
        SetFocus(focused);
    return ended;
}

void Dialog::EndModal(INT_PTR result) {
    ended_ = true;
    if (modal_ && hwnd_)
        EndDialog(hwnd_, result);
}

bool Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message == WM_CTLCOLORSTATIC) {
        for (const auto& [control, colour] : colours_) {
            if (control == reinterpret_cast<HWND>(lParam)) {
                auto* dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, colour);
                SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
                result = reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
                return true;
            }
        }
        return false;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndModal(LOWORD(wParam));
        result = TRUE;
        return true;
    }
    return false;
}

void Dialog::SizeAndCentre(int width, int height) {
    RECT frame{0, 0, Scale(width, dpi_), Scale(height, dpi_)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE)));
    const int outerWidth = frame.right - frame.left;
    const int outerHeight = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = std::max<int>(work.left, (work.left + work.right - outerWidth) / 2);
    const int y = std::max<int>(work.top, (work.top + work.bottom - outerHeight) / 2);
    SetWindowPos(hwnd_, nullptr, x, y, outerWidth, outerHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void Dialog::Place(int id, int left, int top, int width, int height) {
    PlacePixels(id, ScaleRect(left, top, width, height, dpi_));
}

void Dialog::PlacePixels(int id, const RECT& place) {
    SetWindowPos(Item(id), nullptr, place.left, place.top, place.right - place.left,
                 place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

int Dialog::TextWidth(int id) const {
    HWND control = Item(id);
    const std::wstring text = WindowText(control);
    WindowDC dc(control);
    SelectGuard font(dc.Get(), reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent);
    return extent.cx;
}

UniqueFont Dialog::DerivedFont(int weight, bool underline, int points) const {
    LOGFONTW font{};
    auto current = reinterpret_cast<HFONT>(SendMessageW(hwnd_, WM_GETFONT, 0, 0));
    if (!current || !GetObjectW(current, sizeof font, &font))
        GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
    font.lfWeight = weight;
    font.lfUnderline = underline ? TRUE : FALSE;
    if (points)
        font.lfHeight = FontHeight(points, dpi_);
    return UniqueFont(CreateFontIndirectW(&font));
}

void Dialog::SetTextColour(int id, COLORREF colour) {
    colours_.emplace_back(Item(id), colour);
}

INT_PTR CALLBACK Dialog::StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->hwnd_ = hwnd;
        self->dpi_ = ScreenDpi();
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self)
        return FALSE;
    INT_PTR result = FALSE;
    try {
        if (message == WM_INITDIALOG) {
            self->OnInit();
            // The focus only for a dialog on screen: a hidden one would take
            // it from the owner. On screen at once, not when the loop idles.
            result = self->modal_ ? TRUE : FALSE;
            if (self->modal_ && !self->ended_)
                ShowWindow(hwnd, SW_SHOW);
        } else if (!self->OnMessage(message, wParam, lParam, result)) {
            result = FALSE;
        }
    } catch (...) {
        if (message == WM_INITDIALOG) {
            // Filling failed: the dialog ends unseen and its caller hears why.
            self->initFailure_ = std::current_exception();
        } else {
            try {
                ShowErrorBox(hwnd, DescribeCurrentException());
            } catch (...) {
            }
        }
        self->EndModal(IDCANCEL);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

} // namespace ui
