#include "main/commands/DragCommands.h"

#include "storeui/FolderTree.h"

namespace {

// The pointer holds the image by the middle of its icon.
constexpr POINT kHotSpot{8, 8};

} // namespace

bool DragCommands::HandleNotify(const NMHDR* header) {
    if (header->hwndFrom == tree_.Handle() && header->code == TVN_BEGINDRAGW) {
        BeginFolderDrag(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        return true;
    }
    if (header->hwndFrom == messages_.Handle() && header->code == LVN_BEGINDRAG) {
        BeginRowsDrag(reinterpret_cast<const NMLISTVIEW*>(header)->iItem);
        return true;
    }
    if (drag_.Active() && (header->code == TVN_KEYDOWN || header->code == LVN_KEYDOWN))
        return drag_.HandleMessage(WM_KEYDOWN, reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey,
                                   0);
    return false;
}

void DragCommands::BeginFolderDrag(HTREEITEM node) {
    // Special folders stay where they are, as with "Move".
    if (!node || !tree_.IsPlain(node) || !store_)
        return;
    const STOREFOLDERID moved = tree_.IdOf(node);
    HWND tree = tree_.Handle();
    HIMAGELIST image = MakeDragImage(tree, TreeView_GetImageList(tree, TVSIL_NORMAL),
                                     folder_tree::NodeImage(tree, node), tree_.Text(node));
    drag_.Begin(
        window_.Hwnd(), tree, image, kHotSpot,
        [tree, moved](STOREFOLDERID target) {
            return drop_rules::FolderMayDrop(tree, moved, target);
        },
        [this, moved](STOREFOLDERID target, bool) { folders_.MoveFolderTo(moved, target); });
}

void DragCommands::BeginRowsDrag(int row) {
    if (!selection_.OpenedFolder() || messages_.SelectedCount() <= 0 || messages_.ImageOf(row) < 0)
        return;
    HWND list = messages_.Handle();
    HIMAGELIST image =
        MakeDragImage(list, ListView_GetImageList(list, LVSIL_SMALL), messages_.ImageOf(row),
                      messages_.Rows().Subject(static_cast<size_t>(row)));
    // The rows belong to the folder listed now; another one listed by the
    // drop (its folder deleted meanwhile) has other rows selected.
    const Microsoft::WRL::ComPtr<IStoreFolder> source = selection_.OpenedFolder();
    drag_.Begin(
        window_.Hwnd(), tree_.Handle(), image, kHotSpot,
        [this](STOREFOLDERID target) {
            return drop_rules::RowsMayDrop(selection_.CurrentFolderId(), target);
        },
        [this, source](STOREFOLDERID target, bool copy) {
            if (source.Get() == selection_.OpenedFolder())
                messageCommands_.CopyMoveSelectedTo(target, !copy);
        });
}
