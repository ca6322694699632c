#include "FolderPanel.h"

#include "StoreRecords.h"
#include "ui/Text.h"

#include <commctrl.h>

#include <string>

namespace {

// Caption at (8, captionY), value right-aligned so that its right edge stays
// at valueRight.
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
    GroupBox = controls::MakeChild(L"BUTTON", L" Folder properties ", BS_GROUPBOX, 0, place, parent,
                                   id, font);
    SetWindowSubclass(GroupBox, GroupBoxProc, 1, 0);
    HWND* values[5] = {&LabelFolderId, &LabelcSubFolders, &LabelFolderType, &LabelcMessage,
                       &LabelcUnread};
    for (int i = 0; i < 5; ++i) {
        const PanelRow& row = kPanelRows[i];
        LabelCaptions[i] =
            controls::MakeLabel(row.caption, 0, kPanelCaptionX, row.captionY, GroupBox, -1, font);
        SIZE caption = controls::TextSize(font, row.caption);
        int left = kPanelCaptionX + caption.cx + 4;
        *values[i] = controls::MakeChild(L"STATIC", L"0", SS_RIGHT | SS_NOPREFIX, 0,
                                         {left, row.valueY, row.valueRight - left, caption.cy},
                                         GroupBox, -1, font);
    }
    return GroupBox;
}

void FolderPanel::Show(IStoreNamespace* store, STOREFOLDERID folderId) {
    if (!store)
        return;
    FOLDERPROPS props = store::NewFolderProps();
    if (store->GetFolderProps(folderId, 0, &props) != S_OK)
        return;
    SetWindowTextW(LabelFolderId, std::to_wstring(props.FolderId).c_str());
    SetWindowTextW(LabelcSubFolders, std::to_wstring(props.cSubFolders).c_str());
    if (const char* type = store::FolderTypeText(props.sfType))
        SetWindowTextW(LabelFolderType, ui::FromAnsi(type).c_str());
    SetWindowTextW(LabelcMessage, std::to_wstring(props.cMessage).c_str());
    SetWindowTextW(LabelcUnread, std::to_wstring(props.cUnread).c_str());
}

bool FolderPanel::IsValue(HWND control) const {
    return control &&
           (control == LabelFolderId || control == LabelcSubFolders || control == LabelFolderType ||
            control == LabelcMessage || control == LabelcUnread);
}
