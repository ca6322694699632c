#include "StoreSession.h"

#include <shlobj.h>

#include <chrono>
#include <exception>
#include <map>
#include <mutex>
#include <utility>

namespace mailstore::com {
namespace {

using mailstore::ErrorCode;
using mailstore::EventKind;

std::mutex g_sessionsMutex;
std::map<std::pair<DWORD, std::wstring>, std::weak_ptr<StoreSession>> g_sessions;

std::wstring FullPath(const std::wstring& path) {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) {
        return path;
    }
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    full.resize(m < n ? m : 0);
    while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    return full.empty() ? path : full;
}

std::wstring SessionKey(const std::wstring& fullPath) {
    std::wstring key = fullPath;
    for (auto& c : key) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (!key.empty()) {
        CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
    }
    return key;
}

Notification FolderChange(FOLDERNOTIFYTYPE type, STOREFOLDERID old, STOREFOLDERID now) {
    Notification n;
    n.message = WM_FOLDERNOTIFY;
    n.record = FOLDERNOTIFY{static_cast<DWORD>(type), old, now};
    return n;
}

Notification MessageChange(UINT message, const mailstore::ChangeEvent& e) {
    Notification n;
    n.message = message;
    n.folder = e.folder;
    n.id = e.message;
    n.allMessages = e.allMessages;
    return n;
}

} // namespace

HRESULT ToHResult(const mailstore::Status& status) {
    switch (status.code()) {
    case ErrorCode::Ok:
        return S_OK;
    case ErrorCode::UnknownFolder:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case ErrorCode::UnknownMessage:
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    case ErrorCode::InvalidName:
        return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    case ErrorCode::NameExists:
    case ErrorCode::AlreadyExists:
        return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    case ErrorCode::SpecialFolder:
        return E_ACCESSDENIED;
    case ErrorCode::IntoOwnSubtree:
    case ErrorCode::InvalidArgument:
        return E_INVALIDARG;
    case ErrorCode::NotAStore:
        return HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME);
    case ErrorCode::Corrupt:
        return HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT);
    case ErrorCode::Busy:
        return HRESULT_FROM_WIN32(ERROR_BUSY);
    case ErrorCode::TooLarge:
        return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    case ErrorCode::Io:
        break;
    }
    return E_FAIL;
}

std::vector<Notification> NotificationsFor(const mailstore::ChangeEvent& e) {
    // For folder changes idFolderNew is always the folder the change is about and
    // idFolderOld its parent before the change (the folder itself where the
    // parent does not matter).
    switch (e.kind) {
    case EventKind::FolderCreated:
        return {FolderChange(NEW_FOLDER, e.newParent, e.folder)};
    case EventKind::FolderRenamed:
        return {FolderChange(RENAME_FOLDER, e.folder, e.folder)};
    case EventKind::FolderMoved:
        return {FolderChange(MOVE_FOLDER, e.oldParent, e.folder)};
    case EventKind::FolderDeleted:
        return {FolderChange(DELETE_FOLDER, e.oldParent, e.folder)};
    case EventKind::MessageAdded:
        return {MessageChange(WM_NEWMSGS, e)};
    case EventKind::MessageDeleted:
        return {MessageChange(WM_DELETEMSGS, e)};
    case EventKind::MessageMarkedRead:
        return {MessageChange(WM_MARKEDASREAD, e)};
    case EventKind::MessageMarkedUnread:
        return {MessageChange(WM_MARKEDASUNREAD, e)};
    case EventKind::FolderCountsChanged:
        if (e.unreadChanged) {
            return {FolderChange(UNREAD_CHANGE, e.folder, e.folder),
                    FolderChange(FOLDER_PROPS_CHANGED, e.folder, e.folder)};
        }
        return {FolderChange(FOLDER_PROPS_CHANGED, e.folder, e.folder)};
    case EventKind::MessageFlagChanged:
        break; // no window message reports a flag
    }
    return {};
}

std::string EnginePath(const std::wstring& path) {
    std::wstring slashed = path;
    for (auto& c : slashed) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, slashed.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) {
        return {};
    }
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, slashed.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

HRESULT StoreSession::Open(const std::wstring& directory, std::shared_ptr<StoreSession>* out,
                           const std::wstring& createdWhenMissing) {
    out->reset();
    if (directory.empty()) {
        return E_INVALIDARG;
    }
    const std::wstring full = FullPath(directory);
    // Any other folder that is not there is a mistyped setting, not a new store.
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if ((attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) &&
        (createdWhenMissing.empty() ||
         SessionKey(full) != SessionKey(FullPath(createdWhenMissing)))) {
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    const auto key = std::make_pair(GetCurrentThreadId(), SessionKey(full));
    {
        std::lock_guard lock(g_sessionsMutex);
        auto it = g_sessions.find(key);
        if (it != g_sessions.end()) {
            if (auto existing = it->second.lock()) {
                *out = std::move(existing);
                return S_OK;
            }
        }
    }
    const int made = SHCreateDirectoryExW(nullptr, full.c_str(), nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS) {
        return HRESULT_FROM_WIN32(made);
    }
    std::shared_ptr<StoreSession> session(new StoreSession());
    session->directory_ = full;
    session->key_ = key.second;
    session->thread_ = key.first;
    session->hub_ = NotifyHub::ForCurrentThread();
    if (!session->hub_) {
        return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_CANNOT_MAKE);
    }
    mailstore::OpenOptions options;
    options.create = true;
    // A delete of many messages returns once committed; the files go on the
    // remover's thread, so the caller's window keeps answering.
    options.removeLetGoFilesLater = true;
    const mailstore::Status st =
        mailstore::Store::Open(EnginePath(full), options, &session->store_);
    if (!st.ok()) {
        return ToHResult(st);
    }
    // Events of the store's creation are history for a fresh session.
    session->store_->TakeEvents();
    try {
        // The hub outlives the remover (see the destructor). Under Wine every
        // file call goes through the one server the window's messages go
        // through too, so a burst of notifications is taken in first.
        NotifyHub* hub = session->hub_.get();
        session->remover_ = std::make_unique<mailstore::LetGoRemover>(
            mailstore::DefaultFileSystem(), session->store_->Directory(),
            [hub] { return hub->Busy(); });
    } catch (const std::exception&) {
        return E_OUTOFMEMORY; // no thread to be had
    }
    // What an earlier session left waiting goes as soon as the thread idles.
    session->AllowRemoval();
    session->remover_->Add(session->store_->TakeLetGoFiles());
    std::weak_ptr<StoreSession> weak = session;
    session->poller_ = session->hub_->AddPoller([weak] {
        if (auto s = weak.lock()) {
            s->CatchUp();
            s->ForgetRemovedFiles();
            s->AllowRemoval();
        }
    });
    std::lock_guard lock(g_sessionsMutex);
    g_sessions[key] = session;
    *out = std::move(session);
    return S_OK;
}

StoreSession::~StoreSession() {
    if (hub_ && poller_ != 0) {
        hub_->RemovePoller(poller_);
    }
    if (!key_.empty()) {
        std::lock_guard lock(g_sessionsMutex);
        auto it = g_sessions.find(std::make_pair(thread_, key_));
        if (it != g_sessions.end() && it->second.expired()) {
            g_sessions.erase(it);
        }
    }
    // The remover stops after the file in hand; what it took away is recorded,
    // what still waits goes at the next open.
    if (remover_) {
        remover_->Stop();
        const std::vector<uint64_t> done = remover_->TakeDone();
        removed_.insert(removed_.end(), done.begin(), done.end());
        remover_.reset();
        store_->ForgetLetGoFiles(removed_, 0);
    }
    // The engine closes before the hub, whose window may be the last thing left.
    store_.reset();
}

void StoreSession::Publish() {
    if (!stalled_ && store_->HasEvents()) {
        for (const auto& event : store_->TakeEvents()) {
            for (const auto& n : NotificationsFor(event)) {
                hub_->Enqueue(listeners_, n);
            }
        }
    }
    if (remover_) {
        AllowRemoval(); // before the files are handed over
        remover_->Add(store_->TakeLetGoFiles());
    }
}

void StoreSession::AllowRemoval() {
    // File removal would slow every step this thread's windows take (tens of
    // thousands for a large delete's notifications, or a list of 20,000 being
    // filled): it goes on only while they have nothing waiting, for a little
    // longer than until the next poll, which comes only while the thread idles.
    if (!remover_)
        return;
    remover_->AllowFor(hub_->Busy() ? std::chrono::milliseconds(0)
                                    : std::chrono::milliseconds(2 * NotifyHub::kPollMilliseconds));
}

void StoreSession::CatchUp() {
    const mailstore::Status st = store_->Refresh();
    if (!st.ok()) {
        if (!stalled_) {
            failure_ = ToHResult(st); // once each time it stops working
        }
        stalled_ = true;
        return;
    }
    stalled_ = false;
    Publish();
}

void StoreSession::ForgetRemovedFiles() {
    if (remover_) {
        std::vector<uint64_t> done = remover_->TakeDone();
        removed_.insert(removed_.end(), done.begin(), done.end());
        if (!remover_->Idle())
            return; // one record for the whole delete
    }
    if (!removed_.empty() && store_->ForgetLetGoFiles(removed_, 0).ok()) {
        removed_.clear();
        Publish(); // what catching up under the lock brought in
    }
}

HRESULT StoreSession::Poll() {
    CatchUp();
    return TakeFailure();
}

HRESULT StoreSession::TakeFailure() {
    return std::exchange(failure_, S_OK);
}

} // namespace mailstore::com
