#include "LetGoRemover.h"

#include "Codec.h"
#include "StoreFiles.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <utility>

namespace mailstore {

namespace {

std::atomic<int> g_lockWaiters{0};

// Files taken from the queue at once, and how long one hold of the lock may
// last: a thread of this process that wants the lock gets it at once, one of
// another process polls for it, so the gap after each hold lets it in.
// Taking the lock costs several calls (tens of milliseconds under a busy
// Wine), so a hold is not short.
constexpr size_t kBatch = 512;
constexpr auto kHold = std::chrono::milliseconds(100);
constexpr auto kGap = std::chrono::milliseconds(5);

enum class Outcome { Gone, NotWhatWasDeleted, Failed };

// Whether any message file lies where stores kept them before there were
// sub-directories: one listing, which spares a second removal per file.
bool AnyFlatFiles(FileSystem& fs, const std::string& dir) {
    std::vector<std::string> names;
    if (!fs.ListDir(dir + "/" + detail::kMessagesDir, &names).ok())
        return true;
    uint64_t no = 0;
    for (const std::string& name : names) {
        if (detail::ParseMessageFileName(name, &no))
            return true;
    }
    return false;
}

Outcome RemoveOne(FileSystem& fs, const std::string& dir, const LetGoFile& f, bool flat) {
    if (!f.prove && !flat)
        return fs.Remove(detail::PathOfMessage(dir, f.no)).ok() ? Outcome::Gone : Outcome::Failed;
    if (!f.prove)
        return detail::RemoveMessageFile(fs, dir, f.no).ok() ? Outcome::Gone : Outcome::Failed;
    std::string bytes, rel;
    bool missing = false;
    if (!detail::ReadMessageFile(fs, dir, f.no, &bytes, &missing, &rel).ok())
        return missing ? Outcome::Gone : Outcome::Failed;
    if (bytes.size() != f.size ||
        (f.checksum != 0 && detail::Checksum64(bytes.data(), bytes.size()) != f.checksum))
        return Outcome::NotWhatWasDeleted; // kept: the next compaction sets it aside
    return fs.Remove(dir + "/" + rel).ok() ? Outcome::Gone : Outcome::Failed;
}

} // namespace

LockWaiter::LockWaiter() {
    ++g_lockWaiters;
}

LockWaiter::~LockWaiter() {
    --g_lockWaiters;
}

bool LockWaiter::Any() {
    return g_lockWaiters.load() > 0;
}

LetGoRemover::LetGoRemover(FileSystem& fs, std::string dir, Busy busy)
    : fs_(fs), dir_(std::move(dir)), busy_(std::move(busy)), helper_([this] { Help(); }),
      thread_([this] { Run(); }) {}

void LetGoRemover::Stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    helpWake_.notify_all();
    thread_.join(); // first: a hold waits for the helper to finish its share
    helper_.join();
}

void LetGoRemover::Add(std::vector<LetGoFile> files) {
    if (files.empty())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        waiting_.insert(waiting_.end(), files.begin(), files.end());
    }
    wake_.notify_all();
}

std::vector<uint64_t> LetGoRemover::TakeDone() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<uint64_t> out;
    out.swap(done_);
    return out;
}

bool LetGoRemover::Idle() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_.empty() && inHand_ == 0;
}

void LetGoRemover::AllowFor(std::chrono::milliseconds span) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        allowedUntil_ = (std::chrono::steady_clock::now() + span).time_since_epoch().count();
    }
    if (span.count() > 0)
        wake_.notify_all();
}

bool LetGoRemover::Allowed() const {
    return std::chrono::steady_clock::now().time_since_epoch().count() < allowedUntil_;
}

void LetGoRemover::Run() {
    for (;;) {
        std::vector<LetGoFile> batch;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !waiting_.empty(); });
            if (stop_)
                return;
            while (!waiting_.empty() && batch.size() < kBatch) {
                batch.push_back(waiting_.front());
                waiting_.pop_front();
            }
            inHand_ = batch.size();
        }
        HoldOff();
        const bool flat = AnyFlatFiles(fs_, dir_);
        for (size_t at = 0; at < batch.size() && !stopping_;) {
            HoldOff();
            {
                // A wait, not a poll: each wake-up costs the busy thread too.
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || Allowed(); });
            }
            while (LockWaiter::Any() && !stopping_)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            at += RemoveUnderLock(batch, at, flat);
            std::this_thread::sleep_for(kGap);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        inHand_ = 0;
    }
}

void LetGoRemover::HoldOff() {
    if (!busy_)
        return;
    const auto until = std::chrono::steady_clock::now() + kMostHeldOff;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && std::chrono::steady_clock::now() < until) {
        lock.unlock();
        const bool busy = busy_();
        lock.lock();
        if (!busy)
            return;
        wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return stop_; });
    }
}

void LetGoRemover::Help() {
    for (;;) {
        Hold* hold = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            helpWake_.wait(lock, [this] { return stop_ || help_ != nullptr; });
            if (!help_)
                return; // stopped between holds
            hold = std::exchange(help_, nullptr);
        }
        RemoveShare(*hold);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            helping_ = false;
        }
        helpDone_.notify_all();
    }
}

void LetGoRemover::RemoveShare(Hold& hold) {
    const std::vector<LetGoFile>& batch = *hold.batch;
    std::vector<uint64_t> done;
    while (!stopping_ && Allowed() && !LockWaiter::Any() &&
           std::chrono::steady_clock::now() < hold.until) {
        const size_t at = hold.next++;
        if (at >= batch.size())
            break;
        if (RemoveOne(fs_, dir_, batch[at], hold.flat) != Outcome::Failed)
            done.push_back(batch[at].no);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    done_.insert(done_.end(), done.begin(), done.end());
}

size_t LetGoRemover::RemoveUnderLock(const std::vector<LetGoFile>& batch, size_t from, bool flat) {
    std::unique_ptr<FileLock> held;
    if (!fs_.Lock(dir_ + "/" + detail::kLockName, 0, &held).ok())
        return 0; // another writer has it: after the gap, again
    Hold hold;
    hold.batch = &batch;
    hold.flat = flat;
    hold.until = std::chrono::steady_clock::now() + kHold;
    hold.next = from;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!stop_) { // else the helper may be gone
            help_ = &hold;
            helping_ = true;
        }
    }
    helpWake_.notify_all();
    RemoveShare(hold);
    {
        // No file is removed once the lock is let go.
        std::unique_lock<std::mutex> lock(mutex_);
        helpDone_.wait(lock, [this] { return !helping_; });
    }
    const size_t taken = std::min(hold.next.load(), batch.size()) - from;
    held.reset();
    std::lock_guard<std::mutex> lock(mutex_);
    inHand_ = batch.size() - from - taken;
    return taken;
}

} // namespace mailstore
