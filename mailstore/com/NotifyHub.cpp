#include "NotifyHub.h"

#include "Module.h"

#include <algorithm>
#include <mutex>

namespace mailstore::com {
namespace {

constexpr wchar_t kClassName[] = L"MailStoreNotifyHub";
constexpr UINT kDrainMessage = WM_APP + 1;
constexpr UINT kReleaseMessage = WM_APP + 2;
constexpr UINT_PTR kPollTimer = 1;

std::mutex g_hubsMutex;
std::map<DWORD, std::weak_ptr<NotifyHub>> g_hubs;
int g_classUsers = 0; // guarded by g_hubsMutex

bool AddClassUser() {
    if (g_classUsers++ > 0) {
        return true;
    }
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW; // replaced per window below
    wc.hInstance = ModuleInstance();
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        --g_classUsers;
        return false;
    }
    return true;
}

void RemoveClassUser() {
    if (--g_classUsers == 0) {
        UnregisterClassW(kClassName, ModuleInstance());
    }
}

} // namespace

void Listeners::Add(const void* owner, HWND hwnd, bool folderScope, STOREFOLDERID folder) {
    for (auto& e : entries_) {
        if (e.owner == owner && e.hwnd == hwnd) {
            e.folderScope = folderScope;
            e.folder = folder;
            return;
        }
    }
    entries_.push_back(Entry{owner, hwnd, folderScope, folder});
}

void Listeners::Remove(const void* owner, HWND hwnd) {
    std::erase_if(entries_, [&](const Entry& e) { return e.owner == owner && e.hwnd == hwnd; });
}

void Listeners::RemoveOwner(const void* owner) {
    std::erase_if(entries_, [&](const Entry& e) { return e.owner == owner; });
}

std::vector<HWND> Listeners::TargetsFor(const Notification& n) {
    std::erase_if(entries_, [](const Entry& e) { return !IsWindow(e.hwnd); });
    const bool folderChange = n.message == WM_FOLDERNOTIFY;
    std::vector<HWND> out;
    for (const auto& e : entries_) {
        if (folderChange ? !e.folderScope : (e.folderScope && e.folder == n.folder)) {
            out.push_back(e.hwnd);
        }
    }
    return out;
}

void Deliver(const Notification& n, HWND hwnd) {
    if (!IsWindow(hwnd)) {
        return; // destroyed by an earlier receiver's handler
    }
    switch (n.message) {
    case WM_FOLDERNOTIFY: {
        auto* record = static_cast<FOLDERNOTIFY*>(CoTaskMemAlloc(sizeof(FOLDERNOTIFY)));
        if (!record) {
            return;
        }
        *record = n.record;
        SendMessageW(hwnd, WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(record));
        break;
    }
    case WM_NEWMSGS:
        SendMessageW(hwnd, WM_NEWMSGS, static_cast<WPARAM>(n.id), 0);
        break;
    case WM_MARKEDASREAD:
    case WM_MARKEDASUNREAD:
        if (n.allMessages) {
            SendMessageW(hwnd, n.message, MARKED_ALL_MESSAGES, 0);
            break;
        }
        [[fallthrough]];
    default: {
        MESSAGEID id = n.id;
        SendMessageW(hwnd, n.message, reinterpret_cast<WPARAM>(&id), 0);
        break;
    }
    }
}

std::shared_ptr<NotifyHub> NotifyHub::ForCurrentThread() {
    const DWORD thread = GetCurrentThreadId();
    std::lock_guard lock(g_hubsMutex);
    if (auto hub = g_hubs[thread].lock()) {
        return hub;
    }
    if (!AddClassUser()) {
        return nullptr;
    }
    std::shared_ptr<NotifyHub> hub(new NotifyHub());
    hub->thread_ = thread;
    hub->hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 ModuleInstance(), nullptr);
    if (!hub->hwnd_) {
        RemoveClassUser();
        hub->thread_ = 0; // keeps the destructor from touching the class count
        return nullptr;
    }
    SetWindowLongPtrW(hub->hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(hub.get()));
    SetWindowLongPtrW(hub->hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NotifyHub::WindowProc));
    SetTimer(hub->hwnd_, kPollTimer, kPollMilliseconds, nullptr);
    g_hubs[thread] = hub;
    return hub;
}

NotifyHub::~NotifyHub() {
    if (hwnd_) {
        KillTimer(hwnd_, kPollTimer);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
    if (thread_ != 0) {
        std::lock_guard lock(g_hubsMutex);
        auto it = g_hubs.find(thread_);
        if (it != g_hubs.end() && it->second.expired()) {
            g_hubs.erase(it);
        }
        RemoveClassUser();
    }
}

void NotifyHub::PostDrain() {
    if (!drainPosted_ && !queue_.empty() && PostMessageW(hwnd_, kDrainMessage, 0, 0)) {
        drainPosted_ = true;
    }
}

void NotifyHub::UpdateBusy() {
    const bool busy = !queue_.empty() || markers_ > 0;
    if (!busy && busy_.load(std::memory_order_relaxed))
        settledAt_.store(NowMs() + kSettleMs, std::memory_order_relaxed);
    busy_.store(busy, std::memory_order_relaxed);
}

void NotifyHub::Enqueue(std::shared_ptr<Listeners> to, const Notification& n) {
    queue_.emplace_back(std::move(to), n);
    UpdateBusy();
    if (!delivering_) {
        PostDrain();
    }
}

NotifyHub::KeepAlive::KeepAlive(std::shared_ptr<NotifyHub> self) : hub(std::move(self)) {
    ServerLock(true);
}

NotifyHub::KeepAlive::~KeepAlive() {
    ServerLock(false);
}

bool NotifyHub::Post(const Notification& n, HWND hwnd) {
    switch (n.message) {
    case WM_FOLDERNOTIFY: {
        // Lost if the window goes before it reaches its message: the system
        // drops the message with the record.
        auto* record = static_cast<FOLDERNOTIFY*>(CoTaskMemAlloc(sizeof(FOLDERNOTIFY)));
        if (!record) {
            return false;
        }
        *record = n.record;
        if (!PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(record))) {
            CoTaskMemFree(record);
            return false;
        }
        return true;
    }
    case WM_NEWMSGS:
        return PostMessageW(hwnd, WM_NEWMSGS, static_cast<WPARAM>(n.id), 0) != 0;
    case WM_MARKEDASREAD:
    case WM_MARKEDASUNREAD:
        if (n.allMessages) {
            return PostMessageW(hwnd, n.message, MARKED_ALL_MESSAGES, 0) != 0;
        }
        [[fallthrough]];
    default:
        postedIds_ = true;
        return PostMessageW(hwnd, n.message, reinterpret_cast<WPARAM>(ids_.Keep(n.id)), 0) != 0;
    }
}

void NotifyHub::DeliverTurn() {
    drainPosted_ = false;
    if (delivering_ || queue_.empty()) {
        return;
    }
    delivering_ = true;
    postedIds_ = false;
    // Ends the turn even if a step below throws: the hub must outlive what
    // was posted into its slots.
    struct Finish {
        NotifyHub& hub;
        ~Finish() {
            if (hub.postedIds_ && PostMessageW(hub.hwnd_, kReleaseMessage, 0, 0)) {
                ++hub.markers_;
                // A receiver may release the last store object while messages
                // that point into the hub are still waiting.
                if (!hub.keepAlive_) {
                    hub.keepAlive_ = std::unique_ptr<KeepAlive>(
                        new (std::nothrow) KeepAlive(hub.shared_from_this()));
                }
            }
            hub.delivering_ = false;
            hub.UpdateBusy();
            hub.PostDrain();
        }
    } finish{*this};
    size_t posted = 0;
    while (!queue_.empty() && posted < kMaxPostedPerTurn) {
        auto [listeners, n] = std::move(queue_.front());
        queue_.pop_front();
        for (HWND target : listeners->TargetsFor(n)) {
            if (GetWindowThreadProcessId(target, nullptr) != thread_) {
                Deliver(n, target);
            } else if (Post(n, target)) {
                ++posted;
            }
        }
    }
}

void NotifyHub::Release() {
    if (markers_ > 0 && --markers_ == 0) {
        UpdateBusy();
        keepAlive_.reset(); // the caller holds the hub for the rest of its turn
    }
}

NotifyHub::PollerId NotifyHub::AddPoller(std::function<void()> poll) {
    const PollerId id = nextPoller_++;
    pollers_.emplace(id, std::move(poll));
    return id;
}

void NotifyHub::RemovePoller(PollerId id) {
    pollers_.erase(id);
}

void NotifyHub::Poll() {
    // A poller may add or remove pollers, so run from a copy of the ids.
    std::vector<PollerId> ids;
    for (const auto& [id, poll] : pollers_) {
        ids.push_back(id);
    }
    for (PollerId id : ids) {
        auto it = pollers_.find(id);
        if (it != pollers_.end()) {
            auto poll = it->second;
            poll();
        }
    }
}

LRESULT CALLBACK NotifyHub::WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* raw = reinterpret_cast<NotifyHub*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (raw && msg == WM_NCDESTROY) {
        // The window went first (its thread ended): let go of a hub kept alive.
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        raw->hwnd_ = nullptr;
        std::unique_ptr<KeepAlive> hold = std::move(raw->keepAlive_);
        hold.reset();
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    if (raw &&
        (msg == kDrainMessage || msg == kReleaseMessage || (msg == WM_TIMER && wp == kPollTimer))) {
        // Keeps the hub alive if a receiver releases the last store object.
        std::shared_ptr<NotifyHub> self = raw->weak_from_this().lock();
        if (!self) {
            return 0;
        }
        Guarded([&] {
            if (msg == kDrainMessage) {
                self->DeliverTurn();
            } else if (msg == kReleaseMessage) {
                self->Release();
            } else {
                self->Poll();
            }
            return S_OK;
        });
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

} // namespace mailstore::com
