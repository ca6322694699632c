#include "UnitAbout.h"

#include "resources/ImageLists.h"
#include "ui/Dpi.h"

#include <shellapi.h>

namespace {

constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr COLORREF kPurple = RGB(128, 0, 128);
constexpr int kLine = 13;
constexpr int kPictureSize = 36;

} // namespace

void TFormAbout::ShellOpen(const std::wstring& target) {
    ShellExecuteW(nullptr, nullptr, target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

TFormAbout::TFormAbout(OpenLink open)
    : ui::Dialog(GetModuleHandleW(nullptr), IDD_ABOUT), open_(std::move(open)) {}

void TFormAbout::OnInit() {
    title_ = DerivedFont(FW_BOLD, false, 10);
    titleBlue_ = DerivedFont(FW_BOLD, false, 10);
    link_ = DerivedFont(FW_NORMAL, true);
    SendMessageW(LabelName(), WM_SETFONT, reinterpret_cast<WPARAM>(title_.Get()), FALSE);
    SendMessageW(LabelVers(), WM_SETFONT, reinterpret_cast<WPARAM>(titleBlue_.Get()), FALSE);
    SendMessageW(LabelURL(), WM_SETFONT, reinterpret_cast<WPARAM>(link_.Get()), FALSE);
    SetTextColour(IDC_LABELVERS, kBlue);
    SetTextColour(IDC_LABELURL, kBlue);
    for (int i = 0; i < 3; ++i)
        SetTextColour(IDC_ABOUT_AUTHOR_FIRST + i, kNavy);
    for (int i = 0; i < 4; ++i)
        SetTextColour(IDC_ABOUT_TEXT_FIRST + i, kPurple);
    picture_.Reset(LoadAboutPicture(GetModuleHandleW(nullptr)));
    PlaceControls();
}

void TFormAbout::PlaceControls() {
    SizeAndCentre(kClientWidth, kClientHeight);
    Place(IDC_ABOUTPICTURE, 24, 14, kPictureSize, kPictureSize);
    Place(IDC_LABELNAME, 158, 15, 94, 17);
    Place(IDC_LABELVERS, 255, 15, 48, 17);
    for (int i = 0; i < 3; ++i)
        Place(IDC_ABOUT_AUTHOR_FIRST + i, 100, 36 + i * kLine, 200, kLine);
    Place(IDC_ABOUT_RULE1, 8, 79, 290, 2);
    for (int i = 0; i < 4; ++i)
        Place(IDC_ABOUT_TEXT_FIRST + i, 16, 87 + i * kLine, 282, kLine);
    // The link is only as wide as its text, so the hand shows over the text alone.
    Place(IDC_LABELURL, 16, 140, 0, kLine);
    SetWindowPos(LabelURL(), nullptr, 0, 0, TextWidth(IDC_LABELURL), ui::Scale(kLine, Dpi()),
                 SWP_NOMOVE | SWP_NOZORDER);
    Place(IDC_ABOUT_RULE2, 8, 160, 290, 2);
    Place(IDOK, 216, 182, 75, 22);
}

void TFormAbout::DrawPicture(const DRAWITEMSTRUCT& item) const {
    FillRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_BTNFACE));
    if (!picture_)
        return;
    HDC memory = CreateCompatibleDC(item.hDC);
    if (!memory)
        return;
    {
        ui::SelectGuard select(memory, picture_.Get());
        // The magenta background is left out.
        TransparentBlt(item.hDC, item.rcItem.left, item.rcItem.top,
                       item.rcItem.right - item.rcItem.left, item.rcItem.bottom - item.rcItem.top,
                       memory, 0, 0, kPictureSize, kPictureSize, kTransparentColour);
    }
    DeleteDC(memory);
}

void TFormAbout::LabelURLClick() const {
    // The caption is the target: what the user reads is where the link goes.
    if (open_)
        open_(ui::WindowText(LabelURL()));
}

bool TFormAbout::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID != IDC_ABOUTPICTURE)
            return false;
        DrawPicture(*item);
        result = TRUE;
        return true;
    }
    case WM_SETCURSOR:
        if (reinterpret_cast<HWND>(wParam) != LabelURL())
            return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, TRUE);
        result = TRUE;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_LABELURL && HIWORD(wParam) == STN_CLICKED) {
            LabelURLClick();
            result = TRUE;
            return true;
        }
        break;
    }
    return ui::Dialog::OnMessage(message, wParam, lParam, result);
}
