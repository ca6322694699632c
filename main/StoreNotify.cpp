// The store's notification messages: a log line each, and the tree and the
// list brought up to date.
#include "MainUnit.h"
#include "MessageList.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

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

// Looks at the message this thread's queue hands out next, without taking it.
// Only posted messages are looked at: they come out before input, paint and
// timers, so when the next one is another store message for the window,
// nothing else can run in between.
bool PeekNext(MSG& next) {
    return PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE) != 0;
}

// Takes the next message if it is another NEWMSGS for the window.
bool TakeNextNewMessage(HWND hwnd, MSG& taken) {
    MSG next{};
    if (!PeekNext(next) || next.hwnd != hwnd || next.message != WM_NEWMSGS)
        return false;
    return PeekMessageW(&taken, hwnd, WM_NEWMSGS, WM_NEWMSGS,
                        PM_REMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE) != 0;
}

// Where each new message goes, found in one pass over the folder: the first
// time the store enumerates its id, and the id enumerated just before.
struct NewMessage {
    bool found = false;
    bool hasPrevious = false;
    MESSAGEID previous = 0;
    MessageRow row;
};

std::unordered_map<MESSAGEID, NewMessage> LocateNewMessages(IStoreFolder* folder,
                                                            const std::vector<MSG>& batch) {
    std::unordered_map<MESSAGEID, NewMessage> wanted;
    for (const MSG& message : batch)
        wanted.emplace(static_cast<MESSAGEID>(message.wParam), NewMessage());
    if (!folder)
        return wanted;
    size_t missing = wanted.size();
    localtime_text::LocalTimeZone zone;
    message_list::StoreRecord record(folder);
    message_list::MessageEnum messages(folder);
    if (!messages.First(record))
        return wanted;
    bool havePrevious = false;
    MESSAGEID previous = 0;
    do {
        MESSAGEID id = record.Props().dwMessageId;
        auto it = wanted.find(id);
        if (it != wanted.end() && !it->second.found) {
            it->second.found = true;
            it->second.hasPrevious = havePrevious;
            it->second.previous = previous;
            it->second.row = message_list::RowFromProps(record.Props(), zone);
            --missing;
        }
        record.Free();
        previous = id;
        havePrevious = true;
    } while (missing > 0 && messages.Next(record));
    messages.Close();
    return wanted;
}

} // namespace

void TBrisvanderMain::HandleStoreMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // Rows change at once; the list view learns of a burst of changes once,
    // the next time anything asks it something (see message_list::KeepInSync).
    switch (message) {
    case WM_NEWMSGS:
        OnNewMessages(wParam, lParam);
        break;
    case WM_DELETEMSGS:
        OnDeleteMessage(wParam);
        break;
    case WM_MARKEDASREAD:
    case WM_MARKEDASUNREAD:
        OnMarked(message == WM_MARKEDASREAD, wParam);
        break;
    case WM_FOLDERNOTIFY:
        OnFolderChange(lParam);
        break;
    default:
        break;
    }
}

void TBrisvanderMain::OnNewMessages(WPARAM wParam, LPARAM lParam) {
    // NEWMSGS already waiting right behind this one are handled with it:
    // one enumeration finds every new message's place, and the lines and
    // rows come out as if each had been handled on its own.
    std::vector<MSG> batch{MSG{hwnd_, WM_NEWMSGS, wParam, lParam, 0, {}}};
    for (MSG next{}; TakeNextNewMessage(hwnd_, next);)
        batch.push_back(next);
    std::unordered_map<MESSAGEID, NewMessage> located = LocateNewMessages(openFolder_.Get(), batch);
    for (const MSG& item : batch) {
        auto newId = static_cast<MESSAGEID>(item.wParam);
        Log("NEWMSGS MsgId=" + Signed(newId));
        const NewMessage& found = located[newId];
        if (!found.found)
            continue;
        size_t at = 0;
        if (found.hasPrevious) {
            std::ptrdiff_t row = Rows().FindFirst(found.previous);
            if (row >= 0)
                at = static_cast<size_t>(row) + 1;
        }
        messages_.Insert(at, found.row);
    }
    // The ones taken from the queue go on to the window procedure too.
    for (size_t i = 1; i < batch.size() && previousWindowProc_; ++i)
        CallWindowProcW(previousWindowProc_, hwnd_, batch[i].message, batch[i].wParam,
                        batch[i].lParam);
}

void TBrisvanderMain::OnDeleteMessage(WPARAM wParam) {
    if (!wParam)
        return;
    MESSAGEID id = *reinterpret_cast<const MESSAGEID*>(wParam);
    Log("DELETEMSGS MsgId=" + Unsigned(id));
    messages_.DeleteFirst(id);
}

void TBrisvanderMain::OnMarked(bool read, WPARAM wParam) {
    const char* name = read ? "MARKEDASREAD" : "MARKEDASUNREAD";
    int image = read ? kReadImage : kUnreadImage;
    if (wParam == MARKED_ALL_MESSAGES) {
        Log(std::string(name) + " All messages in the folder");
        messages_.SetAllImages(image);
        return;
    }
    if (!wParam)
        return;
    MESSAGEID id = *reinterpret_cast<const MESSAGEID*>(wParam);
    Log(std::string(name) + " MsgId=" + Unsigned(id));
    messages_.SetImage(id, image);
}

void TBrisvanderMain::OnFolderChange(LPARAM lParam) {
    // Freed exactly once, even if the rebuild throws.
    std::unique_ptr<FOLDERNOTIFY, TaskMemFree> notify(reinterpret_cast<FOLDERNOTIFY*>(lParam));
    if (!notify)
        return;
    DWORD type = notify->type;
    STOREFOLDERID newId = notify->idFolderNew;
    std::string line = std::string(FolderChangeName(type)) +
                       " idFolderOld=" + Unsigned(notify->idFolderOld) +
                       " idFolderNew=" + Unsigned(newId);
    switch (type) {
    case NEW_FOLDER:
    case RENAME_FOLDER:
    case MOVE_FOLDER:
        // Without a selected node the tree was empty: start from the first folder.
        RebuildTree(tree_.SelectedId());
        break;
    case DELETE_FOLDER:
        RebuildAfterDeletion(newId);
        break;
    default:
        break;
    }
    notify.reset();
    Log(line);
}

void TBrisvanderMain::RebuildAfterDeletion(STOREFOLDERID deletedId) {
    HTREEITEM selected = tree_.Selected();
    if (!selected)
        return;
    HTREEITEM target = selected;
    if (tree_.IdOf(selected) == deletedId)
        target = TreeView_GetParent(TreeViewFolders, selected);
    // A deleted top-level folder has no parent: show the first folder.
    RebuildTree(target ? tree_.IdOf(target) : 0);
}
