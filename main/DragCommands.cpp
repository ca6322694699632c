// Rows or a folder dragged onto the tree: the same store calls as the
// commands that pick their target in the folder dialog.
#include "MainUnit.h"

#include "storeui/FolderTree.h"

namespace {

// The pointer holds the image by the middle of its icon.
constexpr POINT kHotSpot{8, 8};

} // namespace

bool TBrisvanderMain::HandleDragNotify(const NMHDR* header) {
    if (header->hwndFrom == TreeViewFolders && header->code == TVN_BEGINDRAGW) {
        const auto& info = *reinterpret_cast<const NMTREEVIEWW*>(header);
        HTREEITEM node = info.itemNew.hItem;
        // Special folders stay where they are, as with "Move".
        if (!node || !tree_.IsPlain(node) || !namespace_)
            return true;
        const STOREFOLDERID moved = tree_.IdOf(node);
        HIMAGELIST image =
            MakeDragImage(TreeViewFolders, ImageListFolders,
                          folder_tree::NodeImage(TreeViewFolders, node), tree_.Text(node));
        HWND tree = TreeViewFolders;
        drag_.Begin(
            hwnd_, tree, image, kHotSpot,
            [tree, moved](STOREFOLDERID target) {
                return drop_rules::FolderMayDrop(tree, moved, target);
            },
            [this, moved](STOREFOLDERID target, bool) { MoveFolderTo(moved, target); });
        return true;
    }
    if (header->hwndFrom == ListViewMessages && header->code == LVN_BEGINDRAG) {
        const auto& info = *reinterpret_cast<const NMLISTVIEW*>(header);
        const int row = info.iItem;
        if (!openFolder_ || messages_.SelectedCount() <= 0 || messages_.ImageOf(row) < 0)
            return true;
        HIMAGELIST image =
            MakeDragImage(ListViewMessages, ImageListMessages, messages_.ImageOf(row),
                          messages_.Rows().Subject(static_cast<size_t>(row)));
        // The rows belong to the folder listed now; another one listed by the
        // drop (its folder deleted meanwhile) has other rows selected.
        const Microsoft::WRL::ComPtr<IStoreFolder> source = openFolder_;
        drag_.Begin(
            hwnd_, TreeViewFolders, image, kHotSpot,
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
