// Delivery of store notifications. Changes are queued to a hidden window that
// belongs to the store (one per thread); when that window's turn comes in the
// thread's message loop it posts the queued notifications, in order, to the
// registered windows of its thread, so a receiver finds a burst waiting in its
// queue and may take it in one go. Each arrives through the receiver's own
// loop, one at a time, after the change. Ids passed by pointer live in slots
// of the hub that are used again only after many later ids (see IdSlots); the
// hub lives at least until a release marker, posted behind them to its own
// window, comes out of the same queue. Windows of other threads are sent their
// notifications, one at a time.
#pragma once

#include "StoreApi.h"

#include <atomic>
#include <chrono>
#include <cstdint>
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

// Sends `n` to a window of another thread. A folder record comes fresh from
// the COM task allocator for each receiver, which frees it; message ids are
// passed by pointer to a copy that lives until the handler returns.
void Deliver(const Notification& n, HWND hwnd);

// Storage for ids passed by pointer. Each id gets a slot of its own, and a
// slot is used again only after kSlots later ids: a pointer keeps its id
// while the receiver handles it, even through a message loop inside the
// handler, for the next kSlots - 1 ids the hub passes.
class IdSlots {
  public:
    static constexpr size_t kSlots = 65536;

    MESSAGEID* Keep(MESSAGEID id) {
        MESSAGEID* slot = &slots_[next_];
        *slot = id;
        next_ = (next_ + 1) % kSlots;
        return slot;
    }

  private:
    std::vector<MESSAGEID> slots_ = std::vector<MESSAGEID>(kSlots); // never resized
    size_t next_ = 0;
};

class NotifyHub : public std::enable_shared_from_this<NotifyHub> {
  public:
    static constexpr UINT kPollMilliseconds = 250;
    // Posted messages per turn: well under the system's limit on a thread's
    // posted queue, and a burst the size of a large import still comes in
    // few turns.
    static constexpr size_t kMaxPostedPerTurn = 4000;
    static_assert(IdSlots::kSlots >= 16 * kMaxPostedPerTurn, "ids outlive many turns");

    // The calling thread's hub, created with its window on first use.
    static std::shared_ptr<NotifyHub> ForCurrentThread();

    NotifyHub(const NotifyHub&) = delete;
    NotifyHub& operator=(const NotifyHub&) = delete;
    ~NotifyHub();

    void Enqueue(std::shared_ptr<Listeners> to, const Notification& n);
    // Notifications not posted yet.
    size_t pending() const { return queue_.size(); }
    // Release markers posted behind ids passed by pointer that have not come
    // back yet. While there are any the hub keeps itself (and the module) alive.
    size_t awaitingRelease() const { return markers_; }
    // Either of the two, readable from any thread: the receivers have not had
    // every notification yet; and for kSettleMs after, while a window still
    // brings its list up to date and paints.
    static constexpr int64_t kSettleMs = 1000;
    bool Busy() const {
        return busy_.load(std::memory_order_relaxed) ||
               NowMs() < settledAt_.load(std::memory_order_relaxed);
    }

    // Pollers run on every timer tick, e.g. to pick up other processes' changes.
    using PollerId = unsigned;
    PollerId AddPoller(std::function<void()> poll);
    void RemovePoller(PollerId id);

    HWND window() const { return hwnd_; }

  private:
    // Holds the hub and a module lock while posted messages point into it.
    struct KeepAlive {
        explicit KeepAlive(std::shared_ptr<NotifyHub> hub);
        KeepAlive(const KeepAlive&) = delete;
        KeepAlive& operator=(const KeepAlive&) = delete;
        ~KeepAlive();
        std::shared_ptr<NotifyHub> hub;
    };

    NotifyHub() = default;
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void DeliverTurn();
    bool Post(const Notification& n, HWND hwnd);
    void Release();
    void Poll();
    void PostDrain();
    void UpdateBusy();
    static int64_t NowMs() {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

    HWND hwnd_ = nullptr;
    DWORD thread_ = 0;
    std::deque<std::pair<std::shared_ptr<Listeners>, Notification>> queue_;
    bool drainPosted_ = false;
    bool delivering_ = false;
    IdSlots ids_;
    bool postedIds_ = false; // in this turn
    size_t markers_ = 0;
    std::atomic<bool> busy_{false};
    std::atomic<int64_t> settledAt_{0};
    std::unique_ptr<KeepAlive> keepAlive_;
    std::map<PollerId, std::function<void()>> pollers_;
    PollerId nextPoller_ = 1;
};

} // namespace mailstore::com
