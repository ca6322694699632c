#include "UnitFoldersList.h"

#include "storeui/FolderTree.h"
#include "ui/Dpi.h"

TFormFoldersList::TFormFoldersList() : ui::Dialog(GetModuleHandleW(nullptr), IDD_FOLDERSLIST) {}

void TFormFoldersList::OnInit() {
    PlaceControls();
    HWND tree = TreeViewFolders();
    TreeView_SetImageList(tree, Images, TVSIL_NORMAL);
    if (FillTree)
        FillTree(tree);
    // Shown without a selection, it stays so until the user picks; a window
    // made only to be looked at takes any selection.
    HTREEITEM selected = TreeView_GetSelection(tree);
    keepEmpty_ = Shown() && !selected;
    // The rule follows what the filling left selected, also nothing; a window
    // neither filled nor shown keeps its controls as the template made them.
    if (FillTree || Shown())
        TreeViewFoldersChange(selected);
    if (StartWithOKDisabled)
        EnableWindow(ButtonOK(), FALSE);
}

// Pixel places at 96 DPI, scaled to the screen; the client area is centred.
void TFormFoldersList::PlaceControls() {
    SizeAndCentre(kClientWidth, kClientHeight);
    Place(IDC_FOLDERSLIST_TREE, 8, 3, 251, 226);
    Place(IDOK, 32, 246, 75, 22);
    Place(IDCANCEL, 146, 246, 75, 22);
    TreeView_SetIndent(TreeViewFolders(), ui::Scale(19, Dpi()));
}

bool TFormFoldersList::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
    case WM_NOTIFY:
        result = HandleNotify(reinterpret_cast<const NMHDR*>(lParam)) ? TRUE : FALSE;
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            ButtonOKClick();
            result = TRUE;
            return true;
        }
        break;
    case WM_CLOSE:
        EndModal(IDCANCEL);
        result = TRUE;
        return true;
    default:
        break;
    }
    return ui::Dialog::OnMessage(message, wParam, lParam, result);
}

bool TFormFoldersList::HandleNotify(const NMHDR* header) {
    HWND tree = TreeViewFolders();
    if (!header || header->hwndFrom != tree)
        return false;
    if (header->code == TVN_SELCHANGINGW || header->code == TVN_SELCHANGINGA) {
        // A dialog shown without a selection keeps it so until the user picks:
        // the tree would select its first node by itself when it gets the focus.
        const bool refuse =
            keepEmpty_ && reinterpret_cast<const NMTREEVIEWW*>(header)->action == TVC_UNKNOWN;
        keepEmpty_ = keepEmpty_ && refuse;
        SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, refuse ? TRUE : FALSE);
        return true;
    }
    if (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA) {
        TreeViewFoldersChange(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        return true;
    }
    if (header->code == TVN_KEYDOWN && !TreeView_GetSelection(tree)) {
        // Nothing selected: the tree would ignore the arrow keys, so the first
        // of them picks the top node, the user's own choice.
        const WORD key = reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey;
        if (key == VK_DOWN || key == VK_UP || key == VK_HOME || key == VK_END || key == VK_NEXT ||
            key == VK_PRIOR) {
            keepEmpty_ = false;
            TreeView_SelectItem(tree, TreeView_GetFirstVisible(tree));
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
        HWND tree = TreeViewFolders();
        const STOREFOLDERID id = folder_tree::NodeId(tree, node);
        if (static_cast<LONG>(SubjectId) > 0 && id == ForbiddenId)
            enable = false;
        else if (!SubjectName.empty())
            enable = !folder_tree::HasChildNamed(tree, node, SubjectName);
    }
    EnableWindow(ButtonOK(), enable ? TRUE : FALSE);
}

void TFormFoldersList::SelectNodeUnderCursor() {
    HWND tree = TreeViewFolders();
    TVHITTESTINFO hit{};
    GetCursorPos(&hit.pt);
    ScreenToClient(tree, &hit.pt);
    if (HTREEITEM node = TreeView_HitTest(tree, &hit); node && (hit.flags & TVHT_ONITEM)) {
        keepEmpty_ = false; // the user's pick
        TreeView_SelectItem(tree, node);
    }
}

void TFormFoldersList::ButtonOKClick() {
    // Enter reaches here even while OK is disabled.
    if (!IsWindowEnabled(ButtonOK()))
        return;
    HWND tree = TreeViewFolders();
    HTREEITEM node = TreeView_GetSelection(tree);
    ChosenId = node ? folder_tree::NodeId(tree, node) : 0;
    EndModal(IDOK);
}
