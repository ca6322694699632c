// Removes the files committed deletes let go on two threads of its own, so a
// program whose thread must keep answering (a window's) returns from a large
// delete once it is durable. It holds the store's lock a few milliseconds at a
// time and steps aside as soon as a thread of this process waits for it.
#pragma once

#include "FileSystem.h"
#include "StoreTypes.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mailstore {

// Counts, for the life of the object, a thread of this process waiting for a
// store's lock; a LetGoRemover lets go of the lock while any does.
class LockWaiter {
  public:
    LockWaiter();
    ~LockWaiter();
    LockWaiter(const LockWaiter&) = delete;
    LockWaiter& operator=(const LockWaiter&) = delete;
    static bool Any();
};

class LetGoRemover {
  public:
    // `busy`, when given, is asked from the remover's thread before each hold
    // of the lock: while it says so (for at most kMostHeldOff each time) the
    // remover waits. A store whose file calls share one server with a window
    // (as under Wine) gives the window its burst of notifications first.
    using Busy = std::function<bool()>;
    static constexpr std::chrono::milliseconds kMostHeldOff{30000};
    LetGoRemover(FileSystem& fs, std::string dir, Busy busy = {});
    // Stops after the files in hand; files still waiting are left to the next
    // open of the store, which finds them by the deletes' records.
    ~LetGoRemover() { Stop(); }
    LetGoRemover(const LetGoRemover&) = delete;
    LetGoRemover& operator=(const LetGoRemover&) = delete;

    // Ends the thread (as the destructor does); TakeDone still answers.
    void Stop();

    void Add(std::vector<LetGoFile> files);
    // Numbers whose files are gone, or were found not to hold what was
    // deleted and were left alone: either way their records are done with
    // (Store::ForgetLetGoFiles). A file that could not be removed is not here.
    std::vector<uint64_t> TakeDone();
    // Nothing waits or is in hand.
    bool Idle();
    // Files are taken only until `span` from now (zero: from now on no more
    // until the next call); without a call, always. File removal slows the
    // work of every thread of the process (they share the system services
    // it goes through), so a thread that must keep answering grants short
    // spans while it is idle and none while it is busy.
    void AllowFor(std::chrono::milliseconds span);

  private:
    // One hold of the lock: both threads take files of `batch` in turn, from
    // `next` on, while it lasts.
    struct Hold {
        const std::vector<LetGoFile>* batch = nullptr;
        bool flat = false;
        std::chrono::steady_clock::time_point until;
        std::atomic<size_t> next{0};
    };

    void Run();
    // Waits while `busy_` says so, up to kMostHeldOff, or until stopped.
    void HoldOff();
    // The second thread: removes alongside Run while it holds the lock, since
    // one thread alone leaves the file system's work half idle.
    void Help();
    // Removes files of `batch` from `from` on under one hold of the lock;
    // returns how many it took. `flat`: files of the old layout may be there.
    size_t RemoveUnderLock(const std::vector<LetGoFile>& batch, size_t from, bool flat);
    // One thread's share of a hold; what it took away goes to done_.
    void RemoveShare(Hold& hold);
    bool Allowed() const;

    FileSystem& fs_;
    const std::string dir_;
    const Busy busy_;
    std::atomic<bool> stopping_{false}; // read between files, without the mutex
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable helpWake_;
    std::condition_variable helpDone_;
    std::deque<LetGoFile> waiting_;
    std::vector<uint64_t> done_;
    size_t inHand_ = 0;
    bool stop_ = false;
    // Steady-clock ticks until which files are taken; set under the mutex,
    // read without it too.
    std::atomic<int64_t> allowedUntil_{INT64_MAX};
    Hold* help_ = nullptr; // a hold the helper is to join
    bool helping_ = false; // the helper works in the current hold
    std::thread helper_;
    std::thread thread_; // last: starts once the rest is ready
};

} // namespace mailstore
