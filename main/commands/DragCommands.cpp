#include "main/commands/DragCommands.h"

#include "main/commands/DragOut.h"
#include "storeui/FolderTree.h"

#include <utility>

namespace {

// The picture hangs below and right of the pointer's tip, clear of the arrow
// and of the row pointed at, whose name stays readable.
POINT HotSpot(HWND tree) {
    const int row = static_cast<int>(TreeView_GetItemHeight(tree));
    return {-GetSystemMetrics(SM_CXCURSOR) / 2, -(row > 0 ? row : 16)};
}

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
    if (header->hwndFrom == messages_.Handle() && header->code == LVN_KEYDOWN &&
        reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == 'C' &&
        (GetKeyState(VK_CONTROL) & 0x8000) && !(GetKeyState(VK_MENU) & 0x8000)) {
        CopyRows();
        return true;
    }
    return false;
}

bool DragCommands::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == export_data::kLeftOutTimer) {
        KillTimer(window_.Hwnd(), export_data::kLeftOutTimer);
        const size_t count = std::exchange(leftOut_->count, 0);
        if (count && log_)
            log_("Left out " + std::to_string(count) + (count == 1 ? " message" : " messages") +
                 " the store could not read");
        return true;
    }
    return drag_.HandleMessage(message, wParam, lParam);
}

void DragCommands::Close() {
    drag_.Cancel();
    drag_out::TakeBack(clipboard_.Get());
    clipboard_.Reset();
    leftOut_->window = nullptr;
}

Microsoft::WRL::ComPtr<IDataObject> DragCommands::SelectedRows() {
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = selection_.OpenedFolder();
    if (!folder || messages_.SelectedCount() <= 0)
        return nullptr;
    leftOut_->window = window_.Hwnd();
    return export_data::MessageFiles(folder, messages_.SelectedIds(), leftOut_);
}

void DragCommands::CopyRows() {
    Microsoft::WRL::ComPtr<IDataObject> data = SelectedRows();
    if (!data)
        return;
    drag_out::TakeBack(clipboard_.Get());
    clipboard_.Reset();
    if (drag_out::ToClipboard(data.Get()))
        clipboard_ = data;
    else if (log_)
        log_("Can't put the messages on the clipboard");
}

void DragCommands::BeginFolderDrag(HTREEITEM node) {
    // Special folders stay where they are, as with "Move" (the rules say so),
    // but may be dragged out of the window.
    if (!node || !store_)
        return;
    const STOREFOLDERID moved = tree_.IdOf(node);
    HWND tree = tree_.Handle();
    HIMAGELIST image = MakeDragImage(tree, TreeView_GetImageList(tree, TVSIL_NORMAL),
                                     folder_tree::NodeImage(tree, node), tree_.Text(node));
    drag_.Begin(
        window_.Hwnd(), tree, image, HotSpot(tree),
        [tree, moved](STOREFOLDERID target) {
            return drop_rules::FolderMayDrop(tree, moved, target);
        },
        [this, moved](STOREFOLDERID target, bool) { folders_.MoveFolderTo(moved, target); },
        [this, moved, name = tree_.Text(node)] {
            if (!store_)
                return;
            leftOut_->window = window_.Hwnd();
            // The store is held for the whole loop: notifications come inside it.
            const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
            drag_out::Run(export_data::FolderMbox(store, moved, name, leftOut_).Get());
        });
}

void DragCommands::BeginRowsDrag(int row) {
    if (!selection_.OpenedFolder() || messages_.SelectedCount() <= 0 || messages_.ImageOf(row) < 0)
        return;
    HWND list = messages_.Handle();
    const int count = messages_.SelectedCount();
    HIMAGELIST image =
        MakeDragImage(list, ListView_GetImageList(list, LVSIL_SMALL), messages_.ImageOf(row),
                      count > 1 ? std::to_wstring(count) + L" messages"
                                : messages_.Rows().Subject(static_cast<size_t>(row)));
    // The rows belong to the folder listed now; another one listed by the
    // drop (its folder deleted meanwhile) has other rows selected.
    const Microsoft::WRL::ComPtr<IStoreFolder> source = selection_.OpenedFolder();
    drag_.Begin(
        window_.Hwnd(), tree_.Handle(), image, HotSpot(tree_.Handle()),
        [this](STOREFOLDERID target) {
            return drop_rules::RowsMayDrop(selection_.CurrentFolderId(), target);
        },
        [this, source](STOREFOLDERID target, bool copy) {
            if (source.Get() == selection_.OpenedFolder())
                messageCommands_.CopyMoveSelectedTo(target, !copy);
        },
        [this, source] {
            if (source.Get() == selection_.OpenedFolder())
                drag_out::Run(SelectedRows().Get());
        });
}
