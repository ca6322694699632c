#include "main/views/FolderPanel.h"

#include "store/StoreRecords.h"
#include "ui/Dpi.h"
#include "ui/Text.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

namespace {

// Caption at (8, captionY), value right-aligned so that its right edge stays
// at valueRight (design pixels).
struct PanelRow {
    const wchar_t* caption;
    int captionY;
    int valueY;
    int valueRight;
};
constexpr PanelRow kPanelRows[5] = {
    {L"FolderId:", 19, 21, 202},
    {L"Number of sub-folders:", 36, 38, 202},
    {L"Folder type:", 54, 55, 203},
    {L"Number of messages:", 71, 74, 203},
    {L"Number of un-read messages:", 90, 89, 203},
};
constexpr int kPanelCaptionX = 8;

// The group box's labels ask their parent for colours; the main window answers.
LRESULT CALLBACK GroupBoxProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
    if (message == WM_CTLCOLORSTATIC)
        return SendMessageW(GetParent(hwnd), message, wParam, lParam);
    if (message == WM_ERASEBKGND) {
        // A group box paints only its frame; the window below clips it out.
        RECT client{};
        GetClientRect(hwnd, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, GetSysColorBrush(COLOR_BTNFACE));
        return TRUE;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, GroupBoxProc, id);
    return DefSubclassProc(hwnd, message, wParam, lParam);
}

} // namespace

HWND FolderPanel::Create(HWND parent, int id, const controls::Place& place, HFONT font) {
    // The group box holds only labels, so Tab passes over it.
    groupBox_ = controls::MakeChild(L"BUTTON", L" Folder properties ", BS_GROUPBOX, 0, place,
                                    parent, id, font);
    SetWindowSubclass(groupBox_, GroupBoxProc, 1, 0);
    for (int i = 0; i < 5; ++i) {
        const PanelRow& row = kPanelRows[i];
        captions_[i] =
            controls::MakeLabel(row.caption, 0, kPanelCaptionX, row.captionY, groupBox_, -1, font);
        values_[i] = controls::MakeChildAt(L"STATIC", L"0", SS_RIGHT | SS_NOPREFIX, 0, {},
                                           groupBox_, -1, font);
        FitValue(i);
    }
    return groupBox_;
}

void FolderPanel::SetValue(int row, const std::wstring& text) {
    SetWindowTextW(values_[row], text.c_str());
    FitValue(row);
}

// A value as wide as its whole text, growing leftwards from its fixed right
// edge; where a long one reaches its caption it is drawn over it.
void FolderPanel::FitValue(int row) {
    HWND value = values_[row];
    auto font = reinterpret_cast<HFONT>(SendMessageW(value, WM_GETFONT, 0, 0));
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(value)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(value, text.data(), static_cast<int>(text.size()))));
    SIZE size = controls::TextSize(font, text.c_str());
    const int dpi = ui::ScreenDpi();
    const int right = ui::Scale(kPanelRows[row].valueRight, dpi);
    // Right-aligned text moves within the label: copied old pixels would be wrong.
    SetWindowPos(value, HWND_TOP, right - size.cx, ui::Scale(kPanelRows[row].valueY, dpi), size.cx,
                 size.cy, SWP_NOACTIVATE | SWP_NOCOPYBITS);
    InvalidateRect(value, nullptr, TRUE);
}

void FolderPanel::Show(IStoreNamespace* store, STOREFOLDERID folderId) {
    if (!store)
        return;
    FOLDERPROPS props = store::NewFolderProps();
    if (store->GetFolderProps(folderId, 0, &props) != S_OK)
        return;
    SetValue(0, std::to_wstring(props.FolderId));
    SetValue(1, std::to_wstring(props.cSubFolders));
    if (const char* type = store::FolderTypeText(props.sfType))
        SetValue(2, ui::FromAnsi(type));
    SetValue(3, std::to_wstring(props.cMessage));
    SetValue(4, std::to_wstring(props.cUnread));
}

bool FolderPanel::IsValue(HWND control) const {
    return control && std::find(values_.begin(), values_.end(), control) != values_.end();
}
