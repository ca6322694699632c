// Delivery of store notifications. Changes are queued to a hidden window that
// belongs to the store (one per thread); when that window's turn comes in the
// thread's message loop it sends one notification to each registered window.
// Receivers therefore get them one at a time, through their own loop, after
// the change, and any pointer carried stays valid while their handler runs.
#pragma once

#include "StoreApi.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace mailstore::com {

struct Notification {
    UINT message = 0;         // WM_FOLDERNOTIFY, WM_NEWMSGS, ...
    STOREFOLDERID folder = 0; // for message notifications: the folder they concern
    FOLDERNOTIFY record{};    // for WM_FOLDERNOTIFY
    MESSAGEID id = 0;         // for message notifications
    bool allMessages = false; // WM_MARKEDASREAD/UNREAD for the whole folder
};

// The windows registered with one store. Namespace registrations hear folder
// changes; folder registrations hear the message changes of their folder.
class Listeners {
  public:
    Listeners() = default;
    Listeners(const Listeners&) = delete;
    Listeners& operator=(const Listeners&) = delete;

    // Registering the same window twice through one owner keeps one entry.
    void Add(const void* owner, HWND hwnd, bool folderScope, STOREFOLDERID folder);
    // Harmless when not registered.
    void Remove(const void* owner, HWND hwnd);
    void RemoveOwner(const void* owner);
    // Windows that should receive `n`, in registration order. Windows that no
    // longer exist are dropped for good.
    std::vector<HWND> TargetsFor(const Notification& n);
    size_t size() const { return entries_.size(); }

  private:
    struct Entry {
        const void* owner;
        HWND hwnd;
        bool folderScope;
        STOREFOLDERID folder;
    };
    std::vector<Entry> entries_;
};

// Sends `n` to one window. A folder record comes fresh from the COM task
// allocator for each receiver, which frees it; message ids are passed by
// pointer to a copy that lives until the handler returns.
void Deliver(const Notification& n, HWND hwnd);

class NotifyHub : public std::enable_shared_from_this<NotifyHub> {
  public:
    static constexpr UINT kPollMilliseconds = 250;

    // The calling thread's hub, created with its window on first use.
    static std::shared_ptr<NotifyHub> ForCurrentThread();

    NotifyHub(const NotifyHub&) = delete;
    NotifyHub& operator=(const NotifyHub&) = delete;
    ~NotifyHub();

    void Enqueue(std::shared_ptr<Listeners> to, const Notification& n);
    size_t pending() const { return queue_.size(); }

    // Pollers run on every timer tick, e.g. to pick up other processes' changes.
    using PollerId = unsigned;
    PollerId AddPoller(std::function<void()> poll);
    void RemovePoller(PollerId id);

    HWND window() const { return hwnd_; }

  private:
    NotifyHub() = default;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void DeliverNext();
    void Poll();
    void PostDrain();

    HWND hwnd_ = nullptr;
    DWORD thread_ = 0;
    std::deque<std::pair<std::shared_ptr<Listeners>, Notification>> queue_;
    bool drainPosted_ = false;
    bool delivering_ = false;
    std::map<PollerId, std::function<void()>> pollers_;
    PollerId nextPoller_ = 1;
};

} // namespace mailstore::com
