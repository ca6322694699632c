// The store's notification messages: a log line each, and the tree and the
// list brought up to date.
#include "main/StoreNotify.h"

#include "main/views/MessageListSync.h"
#include "resources/ImageLists.h"
#include "ui/Errors.h"

#include <commctrl.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

// The router's id among the window's subclasses.
constexpr UINT_PTR kSubclassId = 1;

// A folder change's record is freed by its handler: the message goes on
// without it.
LPARAM WithoutFreedRecord(UINT message, LPARAM lParam) {
    return message == WM_FOLDERNOTIFY ? 0 : lParam;
}

struct TaskMemFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

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

// A waiting message a batch of new messages may carry on over: another
// NEWMSGS, or a folder change that leaves the tree and the list alone.
bool Batchable(HWND hwnd, const MSG& message) {
    if (message.hwnd != hwnd)
        return false;
    if (message.message == WM_NEWMSGS)
        return true;
    if (message.message != WM_FOLDERNOTIFY || !message.lParam)
        return false;
    DWORD type = reinterpret_cast<const FOLDERNOTIFY*>(message.lParam)->type;
    return type >= UNREAD_CHANGE && type <= FOLDER_PROPS_CHANGED;
}

// Takes the message this thread's queue hands out next if a batch may carry
// on over it. The queue hands out posted messages before input, paint and
// timers, so nothing else can run in between. No PM_QS_* filter: with one,
// some systems stop returning posted messages once the peek has handled a
// message sent from another thread or process.
bool TakeBatchable(HWND hwnd, MSG& taken) {
    MSG next{};
    if (!PeekMessageW(&next, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD) || !Batchable(hwnd, next))
        return false;
    return PeekMessageW(&taken, hwnd, next.message, next.message, PM_REMOVE | PM_NOYIELD) != 0;
}

// Where each new message goes: the first time the store enumerates its id,
// and the id enumerated just before.
struct NewMessage {
    bool found = false;
    bool hasPrevious = false;
    MESSAGEID previous = 0;
    MessageRow row;
};
using Located = std::unordered_map<MESSAGEID, NewMessage>;

// Walks the folder from `start` (-1: from the top) until every wanted id was
// met. Returns how many were not.
size_t Walk(IStoreFolder* folder, MESSAGEID start, Located& wanted) {
    size_t missing = wanted.size();
    localtime_text::LocalTimeZone zone;
    store_enum::StoreRecord record(folder);
    store_enum::MessageEnum messages(folder);
    if (!messages.First(record, start))
        return missing;
    bool havePrevious = false;
    MESSAGEID previous = 0;
    do {
        MESSAGEID id = record.Props().dwMessageId;
        if (!havePrevious && start != static_cast<MESSAGEID>(-1) && id != start)
            return missing; // not a walk from that message: no proof
        auto it = wanted.find(id);
        if (it != wanted.end() && !it->second.found) {
            it->second = {true, havePrevious, previous,
                          list_sync::RowFromProps(record.Props(), zone)};
            --missing;
        }
        record.Free();
        previous = id;
        havePrevious = true;
    } while (missing > 0 && messages.Next(record));
    return missing;
}

// A walk started at a message's id goes on as the walk from the top goes on
// from that message. So when every walk so far came in id order (the rows'
// ids rise), every new id is above the last row's, and a walk started at the
// last row begins with its message and meets every new id, that walk places
// them as one from the top would. Anything else walks from the top.
Located LocateNewMessages(IStoreFolder* folder, bool idsAscending, const MessageRows& rows,
                          const std::vector<MSG>& batch) {
    Located wanted;
    bool aboveLast = idsAscending && rows.Count() > 0;
    MESSAGEID last = aboveLast ? rows.At(rows.Count() - 1).id : 0;
    for (const MSG& message : batch) {
        if (message.message != WM_NEWMSGS)
            continue;
        auto id = static_cast<MESSAGEID>(message.wParam);
        wanted.emplace(id, NewMessage());
        aboveLast = aboveLast && id > last;
    }
    if (!folder || wanted.empty())
        return wanted;
    if (aboveLast) {
        Located fromLast = wanted;
        if (Walk(folder, last, fromLast) == 0)
            return fromLast;
    }
    Walk(folder, static_cast<MESSAGEID>(-1), wanted);
    return wanted;
}

// The row directly after its predecessor's (at the top when there is none or
// it has no row), or in its sorted place.
void InsertNewMessage(MessageListView& messages, MESSAGEID newId, const Located& located) {
    auto found = located.find(newId);
    if (found == located.end() || !found->second.found)
        return;
    const NewMessage& message = found->second;
    messages.InsertNew(message.hasPrevious ? &message.previous : nullptr, message.row);
}

} // namespace

bool StoreNotifications::Install() {
    HWND hwnd = window_.Hwnd();
    if (installed_ || !hwnd ||
        !SetWindowSubclass(hwnd, &StoreNotifications::Dispatch, kSubclassId,
                           reinterpret_cast<DWORD_PTR>(this)))
        return false;
    installed_ = hwnd;
    return true;
}

void StoreNotifications::Remove() {
    if (installed_)
        RemoveWindowSubclass(installed_, &StoreNotifications::Dispatch, kSubclassId);
    installed_ = nullptr;
}

LRESULT CALLBACK StoreNotifications::Dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                              UINT_PTR, DWORD_PTR self) {
    auto* router = reinterpret_cast<StoreNotifications*>(self);
    if (router->passingOn_) {
        router->passingOn_ = false;
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        router->Remove();
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    if (router->CloseWaiting(hwnd, message)) {
        // The window goes now; this notification and those behind it go with it.
        if (message == WM_FOLDERNOTIFY)
            CoTaskMemFree(reinterpret_cast<void*>(lParam));
        return DefSubclassProc(hwnd, WM_CLOSE, 0, 0);
    }
    try {
        router->Handle(message, wParam, lParam);
    } catch (...) {
        try {
            if (router->error_)
                router->error_(ui::DescribeCurrentException());
        } catch (...) {
        }
    }
    // Every message goes on to the window's own procedure, handled or not.
    return DefSubclassProc(hwnd, message, wParam, WithoutFreedRecord(message, lParam));
}

// A burst of notifications (20,000 of a delete) may stand in the queue before
// a close; it is looked for now and then, not at every one.
bool StoreNotifications::CloseWaiting(HWND hwnd, UINT message) {
    constexpr unsigned kEvery = 64;
    if (message != WM_NEWMSGS && message != WM_DELETEMSGS && message != WM_MARKEDASREAD &&
        message != WM_MARKEDASUNREAD && message != WM_FOLDERNOTIFY)
        return false;
    if (++sinceCloseLook_ < kEvery)
        return false;
    sinceCloseLook_ = 0;
    MSG waiting;
    if (PeekMessageW(&waiting, hwnd, WM_CLOSE, WM_CLOSE, PM_REMOVE | PM_NOYIELD))
        return true;
    // The close button comes as a system command.
    if (PeekMessageW(&waiting, hwnd, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_NOREMOVE | PM_NOYIELD) &&
        (waiting.wParam & 0xFFF0) == SC_CLOSE)
        return PeekMessageW(&waiting, hwnd, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE | PM_NOYIELD);
    return false;
}

// Sent through the window's whole chain again, past this router: a subclass
// may hand only one message to the next procedure per call.
void StoreNotifications::PassOn(const MSG& taken) {
    passingOn_ = true;
    SendMessageW(taken.hwnd, taken.message, taken.wParam,
                 WithoutFreedRecord(taken.message, taken.lParam));
    passingOn_ = false;
}

void StoreNotifications::Log(std::string_view line) const {
    if (log_)
        log_(line);
}

void StoreNotifications::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    // Rows change at once; the list view learns of a burst of changes once,
    // the next time anything asks it something (see list_sync::KeepInSync).
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

void StoreNotifications::OnNewMessages(WPARAM wParam, LPARAM lParam) {
    // NEWMSGS waiting behind this one, and the folder changes between them
    // that need no action, are handled with it: one walk finds every new
    // message's place, and the lines and rows come out as if each had been
    // handled on its own. A taken message that turns out otherwise ends the
    // batch and is handled last, in its place.
    HWND hwnd = window_.Hwnd();
    std::vector<MSG> batch{MSG{hwnd, WM_NEWMSGS, wParam, lParam, 0, {}}};
    for (MSG next{}; Batchable(hwnd, batch.back()) && TakeBatchable(hwnd, next);)
        batch.push_back(next);
    Located located = LocateNewMessages(selection_.OpenedFolder(), messages_.IdsAscending(),
                                        messages_.Rows(), batch);
    for (size_t i = 0; i < batch.size(); ++i) {
        const MSG& item = batch[i];
        if (item.message == WM_NEWMSGS) {
            const auto id = static_cast<MESSAGEID>(item.wParam);
            Log("NEWMSGS MsgId=" + Signed(id));
            InsertNewMessage(messages_, id, located);
        } else {
            Handle(item.message, item.wParam, item.lParam);
        }
        // The ones taken from the queue go on to the window procedure too.
        if (i > 0)
            PassOn(item);
    }
}

void StoreNotifications::OnDeleteMessage(WPARAM wParam) {
    if (!wParam)
        return;
    MESSAGEID id = *reinterpret_cast<const MESSAGEID*>(wParam);
    Log("DELETEMSGS MsgId=" + Unsigned(id));
    messages_.DeleteFirst(id);
}

void StoreNotifications::OnMarked(bool read, WPARAM wParam) {
    const char* name = read ? "MARKEDASREAD" : "MARKEDASUNREAD";
    int image = read ? kMessageImageRead : kMessageImageUnread;
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

void StoreNotifications::OnFolderChange(LPARAM lParam) {
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
        tree_.Rebuild(store_, tree_.SelectedId());
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

void StoreNotifications::RebuildAfterDeletion(STOREFOLDERID deletedId) {
    HTREEITEM selected = tree_.Selected();
    if (!selected)
        return;
    HTREEITEM target = selected;
    if (tree_.IdOf(selected) == deletedId)
        target = TreeView_GetParent(tree_.Handle(), selected);
    // A deleted top-level folder has no parent: show the first folder.
    tree_.Rebuild(store_, target ? tree_.IdOf(target) : 0);
}
