// One open store per thread and directory, shared by every namespace and folder
// object on that thread: the engine, the registered windows, and the turning
// of the engine's change events into window notifications.
#pragma once

#include "NotifyHub.h"
#include "StoreApi.h"

#include "LetGoRemover.h"
#include "Store.h"

#include <memory>
#include <string>
#include <vector>

namespace mailstore::com {

// The status word for an engine result.
HRESULT ToHResult(const mailstore::Status& status);

// Which notifications one engine event becomes, in order.
std::vector<Notification> NotificationsFor(const mailstore::ChangeEvent& event);

class StoreSession : public std::enable_shared_from_this<StoreSession> {
  public:
    // Opens the store in `directory`, creating it when missing, or returns the
    // one this thread already has open there. A directory that does not exist
    // is created (with its parents) only when it is `createdWhenMissing`.
    static HRESULT Open(const std::wstring& directory, std::shared_ptr<StoreSession>* out,
                        const std::wstring& createdWhenMissing = {});

    StoreSession(const StoreSession&) = delete;
    StoreSession& operator=(const StoreSession&) = delete;
    ~StoreSession();

    mailstore::Store& store() { return *store_; }
    const std::wstring& directory() const { return directory_; }
    Listeners& listeners() { return *listeners_; }

    // Queues notifications for the engine's pending change events. Called after
    // every change and on every poll; does nothing while picking up other
    // processes' changes fails.
    void Publish();
    // Picks up other processes' changes, then publishes; runs on the hub's
    // timer. When picking up fails (another process damaged or locked the
    // store) the session keeps serving what it has and reports no change until
    // it works again; the failure is kept for the next caller.
    void CatchUp();
    // Records as gone the files the remover has taken away, once it has
    // nothing left to do, without waiting for another writer; runs on the
    // hub's timer.
    void ForgetRemovedFiles();
    // Lets the remover go on a while, or holds it off while notifications
    // wait to be handled by this thread's windows; runs after every publish
    // and on the hub's timer.
    void AllowRemoval();
    // CatchUp, then TakeFailure. Queries that start something (an enumeration,
    // a record) poll first so they see the latest.
    HRESULT Poll();
    // A failure met while polling, once: the next store operation returns it.
    HRESULT TakeFailure();

  private:
    StoreSession() = default;

    std::wstring directory_;
    std::wstring key_;
    DWORD thread_ = 0;
    std::shared_ptr<NotifyHub> hub_;
    std::unique_ptr<mailstore::Store> store_;
    // Removes the files committed deletes let go, off this thread.
    std::unique_ptr<mailstore::LetGoRemover> remover_;
    std::vector<uint64_t> removed_; // gone, not yet recorded as such
    std::shared_ptr<Listeners> listeners_ = std::make_shared<Listeners>();
    NotifyHub::PollerId poller_ = 0;
    bool stalled_ = false;   // the last poll failed
    HRESULT failure_ = S_OK; // not yet returned to a caller
};

// UTF-16 path to the engine's form (UTF-8, '/' separators) and back.
std::string EnginePath(const std::wstring& path);

} // namespace mailstore::com
