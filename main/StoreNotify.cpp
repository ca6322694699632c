// The store's notification messages: a log line each, and the tree and the
// list brought up to date.
#include "FolderTree.h"
#include "MainUnit.h"
#include "MessageList.h"
#include "MessageRows.h"

#include <memory>
#include <string>

namespace {

struct TaskMemFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

constexpr int kReadImage = 0;
constexpr int kUnreadImage = 1;

std::string Unsigned(DWORD value) {
    return std::to_string(value);
}
std::string Signed(DWORD value) {
    return std::to_string(static_cast<LONG>(value));
}

const char* FolderChangeName(DWORD type) {
    switch (type) {
    case NEW_FOLDER:
        return "NEW_FOLDER";
    case DELETE_FOLDER:
        return "DELETE_FOLDER";
    case RENAME_FOLDER:
        return "RENAME_FOLDER";
    case MOVE_FOLDER:
        return "MOVE_FOLDER";
    case UNREAD_CHANGE:
        return "UNREAD_CHANGE";
    case IMAPFLAG_CHANGE:
        return "IMAPFLAG_CHANGE";
    case UPDATEFLAG_CHANGE:
        return "UPDATEFLAG_CHANGE";
    case FOLDER_PROPS_CHANGED:
        return "FOLDER_PROPS_CHANGED";
    default:
        return "";
    }
}

} // namespace

void TBrisvanderMain::HandleStoreMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND list = ListViewMessages;
    switch (message) {
    case WM_NEWMSGS: {
        auto newId = static_cast<MESSAGEID>(wParam);
        Log("NEWMSGS MsgId=" + Signed(newId));
        if (!openFolder_)
            return;
        IStoreFolder* folder = openFolder_.Get();
        message_list::StoreRecord record(folder);
        message_list::MessageEnum messages(folder);
        if (!messages.First(record))
            return;
        bool havePrevious = false;
        MESSAGEID previous = 0;
        do {
            if (record.Props().dwMessageId == newId) {
                size_t at = 0;
                if (havePrevious) {
                    std::ptrdiff_t row = rows_->FindFirst(previous);
                    if (row >= 0)
                        at = static_cast<size_t>(row) + 1;
                }
                message_list::InsertRow(list, *rows_, at,
                                        message_list::RowFromProps(record.Props()));
                record.Free();
                break;
            }
            previous = record.Props().dwMessageId;
            havePrevious = true;
            record.Free();
        } while (messages.Next(record));
        messages.Close();
        return;
    }
    case WM_DELETEMSGS: {
        if (!wParam)
            return;
        MESSAGEID id = *reinterpret_cast<const MESSAGEID*>(wParam);
        Log("DELETEMSGS MsgId=" + Unsigned(id));
        std::ptrdiff_t row = rows_->FindFirst(id);
        if (row >= 0)
            message_list::DeleteRow(list, *rows_, static_cast<size_t>(row));
        return;
    }
    case WM_MARKEDASREAD:
    case WM_MARKEDASUNREAD: {
        bool read = message == WM_MARKEDASREAD;
        const char* name = read ? "MARKEDASREAD" : "MARKEDASUNREAD";
        int image = read ? kReadImage : kUnreadImage;
        if (wParam == MARKED_ALL_MESSAGES) {
            Log(std::string(name) + " All messages in the folder");
            message_list::SetAllRowImages(list, *rows_, image);
            return;
        }
        if (!wParam)
            return;
        MESSAGEID id = *reinterpret_cast<const MESSAGEID*>(wParam);
        Log(std::string(name) + " MsgId=" + Unsigned(id));
        std::ptrdiff_t row = rows_->FindFirst(id);
        if (row >= 0)
            message_list::SetRowImage(list, *rows_, static_cast<size_t>(row), image);
        return;
    }
    case WM_FOLDERNOTIFY: {
        // Freed exactly once, even if the rebuild throws.
        std::unique_ptr<FOLDERNOTIFY, TaskMemFree> notify(reinterpret_cast<FOLDERNOTIFY*>(lParam));
        if (!notify)
            return;
        DWORD type = notify->type;
        STOREFOLDERID newId = notify->idFolderNew;
        std::string line = std::string(FolderChangeName(type)) +
                           " idFolderOld=" + Unsigned(notify->idFolderOld) +
                           " idFolderNew=" + Unsigned(newId);
        HWND tree = TreeViewFolders;
        HTREEITEM selected = TreeView_GetSelection(tree);
        switch (type) {
        case NEW_FOLDER:
        case RENAME_FOLDER:
        case MOVE_FOLDER:
            // Without a selected node the tree was empty: start from the first folder.
            RebuildTree(tree, selected ? folder_tree::NodeId(tree, selected) : 0);
            break;
        case DELETE_FOLDER:
            if (selected) {
                HTREEITEM target = selected;
                if (folder_tree::NodeId(tree, selected) == newId)
                    target = TreeView_GetParent(tree, selected);
                // A deleted top-level folder has no parent: show the first folder.
                RebuildTree(tree, target ? folder_tree::NodeId(tree, target) : 0);
            }
            break;
        default:
            break;
        }
        notify.reset();
        Log(line);
        return;
    }
    default:
        return;
    }
}
