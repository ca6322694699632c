#include "UnitFoldersList.h"

#include "storeui/FolderTree.h"
#include "FoldersListIds.h"
#include "ui/Dialog.h"
#include "ui/Dpi.h"

#include <strsafe.h>

namespace {

struct Place {
    int x, y, width, height;
};
constexpr Place kTree{8, 3, 251, 226};
constexpr Place kOK{32, 246, 75, 22};
constexpr Place kCancel{146, 246, 75, 22};

void PlaceControl(HWND control, const Place& place, int dpi) {
    RECT rect = ui::ScaleRect(place.x, place.y, place.width, place.height, dpi);
    SetWindowPos(control, nullptr, rect.left, rect.top, rect.right - rect.left,
                 rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

HFONT MakeDialogFont(int dpi) {
    LOGFONTW font{};
    font.lfHeight = ui::FontHeight(8, dpi);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    StringCchCopyW(font.lfFaceName, LF_FACESIZE, L"MS Sans Serif");
    return CreateFontIndirectW(&font);
}

} // namespace

TFormFoldersList::TFormFoldersList(HWND owner) {
    CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FOLDERSLIST), owner,
                       DialogProc, reinterpret_cast<LPARAM>(this));
}

TFormFoldersList::~TFormFoldersList() {
    if (HWND dialog = window_.Get())
        SetWindowLongPtrW(dialog, DWLP_USER, 0);
}

void TFormFoldersList::SetImages(HIMAGELIST images) {
    TreeView_SetImageList(TreeViewFolders, images, TVSIL_NORMAL);
}

INT_PTR CALLBACK TFormFoldersList::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        reinterpret_cast<TFormFoldersList*>(lParam)->window_.Reset(dialog);
    }
    auto* self = reinterpret_cast<TFormFoldersList*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (!self)
        return FALSE;
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ui::DefaultModalHost().ErrorBox(dialog, ui::DescribeCurrentException());
        self->Close(IDCANCEL);
        return TRUE;
    }
}

INT_PTR TFormFoldersList::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        FormCreate();
        return FALSE; // the focus goes to the tree when the dialog is shown
    case WM_NOTIFY:
        return HandleNotify(reinterpret_cast<const NMHDR*>(lParam));
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            ButtonOKClick();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            Close(IDCANCEL);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        Close(IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

// Pixel places at 96 DPI, scaled to the screen; the client area is centred.
void TFormFoldersList::FormCreate() {
    HWND dialog = window_.Get();
    TreeViewFolders = GetDlgItem(dialog, IDC_FOLDERSLIST_TREE);
    ButtonOK = GetDlgItem(dialog, IDOK);
    ButtonCancel = GetDlgItem(dialog, IDCANCEL);
    const int dpi = ui::ScreenDpi();
    font_.Reset(MakeDialogFont(dpi));
    for (HWND control : {dialog, TreeViewFolders, ButtonOK, ButtonCancel})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    PlaceControl(TreeViewFolders, kTree, dpi);
    PlaceControl(ButtonOK, kOK, dpi);
    PlaceControl(ButtonCancel, kCancel, dpi);
    TreeView_SetIndent(TreeViewFolders, ui::Scale(19, dpi));

    RECT frame{0, 0, ui::Scale(kClientWidth, dpi), ui::Scale(kClientHeight, dpi)};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TFormFoldersList::HandleNotify(const NMHDR* header) {
    if (!header || header->hwndFrom != TreeViewFolders)
        return false;
    if (header->code == TVN_SELCHANGINGW || header->code == TVN_SELCHANGINGA) {
        // A dialog shown without a selection keeps it so until the user picks:
        // the tree would select its first node by itself when it gets the focus.
        const bool refuse =
            keepEmpty_ && reinterpret_cast<const NMTREEVIEWW*>(header)->action == TVC_UNKNOWN;
        keepEmpty_ = keepEmpty_ && refuse;
        SetWindowLongPtrW(window_.Get(), DWLP_MSGRESULT, refuse ? TRUE : FALSE);
        return true;
    }
    if (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA) {
        TreeViewFoldersChange(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        return true;
    }
    if (header->code == TVN_KEYDOWN && !TreeView_GetSelection(TreeViewFolders)) {
        // Nothing selected: the tree would ignore the arrow keys, so the first
        // of them picks the top node, the user's own choice.
        const WORD key = reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey;
        if (key == VK_DOWN || key == VK_UP || key == VK_HOME || key == VK_END || key == VK_NEXT ||
            key == VK_PRIOR) {
            keepEmpty_ = false;
            TreeView_SelectItem(TreeViewFolders, TreeView_GetFirstVisible(TreeViewFolders));
        }
        return false;
    }
    if (header->code == NM_RCLICK) {
        SelectNodeUnderCursor();
        return true;
    }
    return false;
}

void TFormFoldersList::TreeViewFoldersChange(HTREEITEM node) {
    // Nothing selected (an empty tree, or its last node deleted): nothing to choose.
    bool enable = node != nullptr;
    if (enable) {
        const STOREFOLDERID id = folder_tree::NodeId(TreeViewFolders, node);
        if (static_cast<LONG>(SubjectId) > 0 && id == ForbiddenId)
            enable = false;
        else if (!SubjectName.empty())
            enable = !folder_tree::HasChildNamed(TreeViewFolders, node, SubjectName);
    }
    EnableWindow(ButtonOK, enable ? TRUE : FALSE);
}

void TFormFoldersList::SelectNodeUnderCursor() {
    TVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(TreeViewFolders, &hit.pt);
    if (HTREEITEM node = TreeView_HitTest(TreeViewFolders, &hit);
        node && (hit.flags & TVHT_ONITEM)) {
        keepEmpty_ = false; // the user's pick
        TreeView_SelectItem(TreeViewFolders, node);
    }
}

void TFormFoldersList::ButtonOKClick() {
    // Enter reaches here even while OK is disabled.
    if (!IsWindowEnabled(ButtonOK))
        return;
    HTREEITEM node = TreeView_GetSelection(TreeViewFolders);
    ChosenId = node ? folder_tree::NodeId(TreeViewFolders, node) : 0;
    Close(IDOK);
}

void TFormFoldersList::Close(INT_PTR result) {
    result_ = result;
    running_ = false;
}

INT_PTR TFormFoldersList::RunModal(HWND owner) {
    HWND dialog = window_.Get();
    if (!dialog)
        return IDCANCEL;
    keepEmpty_ = !TreeView_GetSelection(TreeViewFolders);
    if (keepEmpty_)
        TreeViewFoldersChange(nullptr);
    result_ = IDCANCEL;
    running_ = true;
    ui::RunModalLoop(dialog, owner, TreeViewFolders, running_);
    running_ = false;
    keepEmpty_ = false;
    return result_;
}
