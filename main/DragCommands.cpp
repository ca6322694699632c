// Rows or a folder dragged onto the tree: the same store calls as the
// commands that pick their target in the folder dialog.
#include "MainUnit.h"

#include "storeui/FolderTree.h"

namespace {

// Where the pointer holds the image: the point of the control where the
// drag began, measured from the image's top left at `origin`.
POINT HotSpot(POINT pointer, POINT origin) {
    return {pointer.x - origin.x, pointer.y - origin.y};
}

} // namespace

bool TBrisvanderMain::HandleDragNotify(const NMHDR* header) {
    if (header->hwndFrom == TreeViewFolders && header->code == TVN_BEGINDRAGW) {
        const auto& info = *reinterpret_cast<const NMTREEVIEWW*>(header);
        HTREEITEM node = info.itemNew.hItem;
        // Special folders stay where they are, as with "Move".
        if (!node || !tree_.IsPlain(node) || !namespace_)
            return true;
        const STOREFOLDERID moved = tree_.IdOf(node);
        HIMAGELIST image = TreeView_CreateDragImage(TreeViewFolders, node);
        // The image ends where the label does.
        RECT label{};
        int width = 0;
        int height = 0;
        TreeView_GetItemRect(TreeViewFolders, node, &label, TRUE);
        if (image)
            ImageList_GetIconSize(image, &width, &height);
        HWND tree = TreeViewFolders;
        drag_.Begin(
            hwnd_, tree, image, HotSpot(info.ptDrag, {label.right - width, label.top}),
            [tree, moved](STOREFOLDERID target) {
                return drop_rules::FolderMayDrop(tree, moved, target);
            },
            [this, moved](STOREFOLDERID target, bool) { MoveFolderTo(moved, target); });
        return true;
    }
    if (header->hwndFrom == ListViewMessages && header->code == LVN_BEGINDRAG) {
        const auto& info = *reinterpret_cast<const NMLISTVIEW*>(header);
        if (!openFolder_ || messages_.SelectedCount() <= 0)
            return true;
        POINT origin{};
        HIMAGELIST image = ListView_CreateDragImage(ListViewMessages, info.iItem, &origin);
        // The rows belong to the folder listed now; another one listed by the
        // drop (its folder deleted meanwhile) has other rows selected.
        const Microsoft::WRL::ComPtr<IStoreFolder> source = openFolder_;
        drag_.Begin(
            hwnd_, TreeViewFolders, image, HotSpot(info.ptAction, origin),
            [this](STOREFOLDERID target) {
                return drop_rules::RowsMayDrop(currentFolderId_, target);
            },
            [this, source](STOREFOLDERID target, bool copy) {
                if (source == openFolder_)
                    CopyMoveSelectedTo(target, !copy);
            });
        return true;
    }
    if (drag_.Active() && (header->code == TVN_KEYDOWN || header->code == LVN_KEYDOWN))
        return drag_.HandleMessage(WM_KEYDOWN, reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey,
                                   0);
    return false;
}
