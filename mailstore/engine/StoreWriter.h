// The writer behind Store: the state as of the last change, the locked path
// every change takes (catch up, validate, write files, journal, commit), and
// what becomes of message files no record accounts for.
#pragma once

#include "Journal.h"
#include "State.h"
#include "Store.h"
#include "StoreFiles.h"
#include "StoreLoad.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace mailstore {

namespace detail {

// What every change checks before it writes.
Status ValidateName(std::string_view name);
Status UnknownFolder(FolderId id);
Status UnknownMessage(FolderId folder, MessageId id);
Status CheckNameFree(const State& state, FolderId parent, std::string_view name);
Status NoNewIds(std::vector<MessageId>* newIds);
// Ids without repeats, first occurrence kept.
std::vector<MessageId> Unique(const std::vector<MessageId>& ids);

// Whether an intent still proves its batch uncommitted: the journal ends where
// it did when the intent was made, after the same last change.
bool IntentHolds(const detail::Intent& in, uint64_t generation, bool journalStale,
                 uint64_t journalEnd, const State& state);

} // namespace detail

class Store::Impl {
  public:
    Impl(std::string directory, const OpenOptions& options);

    std::string dir;
    FileSystem* fs;
    OpenOptions opts;
    detail::State state;
    uint64_t generation = 0;
    uint64_t journalEnd = 0;
    bool journalStale = false;
    uint64_t fileFloor = 0; // file numbers below this are taken or were seen on disk
    std::vector<uint64_t> suspects;
    bool intentDirSynced = false; // intent.bin's name is durable
    std::vector<LetGoFile> letGo; // to remove later (OpenOptions::removeLetGoFilesLater)
    std::vector<ChangeEvent> events;
    Status broken; // set when memory and disk can no longer be trusted to agree

    std::string Path(const char* name) const { return dir + "/" + name; }
    std::vector<std::string> setAside; // what this object moved aside
    std::string MessagePath(uint64_t fileNo) const { return detail::PathOfMessage(dir, fileNo); }

    void Adopt(detail::Loaded&& l);

    // ---- Catching up with other processes ----

    Status CatchUp(bool* changed);

    Status ApplyTail(std::string_view tail, uint64_t base, bool* changed);

    // Another process compacted: read its snapshot and continue from there.
    Status Reload(bool* changed);

    // ---- Writing ----

    Status Lock(std::unique_ptr<FileLock>* lock) { return Lock(lock, opts.lockTimeoutMs); }
    Status Lock(std::unique_ptr<FileLock>* lock, unsigned timeoutMs);

    // Begin, for a change to the existing folder `folder`.
    Status BeginOn(FolderId folder, std::unique_ptr<FileLock>* lock, const detail::FolderRec** f);

    // BeginOn, for a change to the messages `ids` of the folder.
    Status BeginOnMessages(FolderId folder, const std::vector<MessageId>& ids,
                           std::unique_ptr<FileLock>* lock, const detail::FolderRec** f);

    // Takes the writer lock and brings the state up to date; every change starts here.
    Status Begin(std::unique_ptr<FileLock>* lock) { return Begin(lock, opts.lockTimeoutMs); }
    Status Begin(std::unique_ptr<FileLock>* lock, unsigned timeoutMs);

    Status StartJournal();

    uint64_t NextFileNo() const { return std::max(state.nextFileNo, fileFloor); }

    Status FlushFiles(std::vector<std::unique_ptr<File>>* files);

    // Message files written for one change that is not committed yet.
    struct NewFiles {
        uint64_t next = 0, end = 0; // the numbers the intent names that are still to come
        std::vector<uint64_t> written;
        std::vector<std::unique_ptr<File>> unflushed;
    };

    // Takes a number for each planned file (its size and checksum) of a batch:
    // files already there under them are set aside (whatever put them there, they
    // are not this batch's), then the intent is made durable, before any file of
    // the batch exists.
    Status BeginBatch(std::vector<detail::IntentFile> planned, NewFiles* files);

    // Sets aside what is under the numbers [first, first + count): one listing
    // per sub-directory for a large batch, else a lookup per number.
    void ClearTheWay(uint64_t first, uint64_t count);

    // Writes the batch's next message file, under a name its intent holds. Its
    // flush is left to FlushFiles, so a batch's files reach the disk together: on
    // journalling file systems the first flush then carries most of the others'.
    Status WriteBatchFile(std::string_view bytes, NewFiles* files, uint64_t* fileNo);

    void Abandon(NewFiles* files);

    // Empties intent.bin once the batch is committed or undone. Not flushed: a
    // crash before it reaches the disk leaves an intent whose journal has moved
    // on, which proves nothing.
    void ClearIntent();

    // A batch the journal does not hold: while the journal ends where it did
    // when the intent was made, after the same last change, files under its
    // numbers are the batch's or a restored backup's newer ones; each goes only
    // when a committed message holds its bytes (LeftoverJudge), else it is set
    // aside. Any other intent says nothing now.
    void ResolveIntent();

    // Makes the batch's files durable, then commits op, which adds their messages.
    Status CommitNewMessages(detail::Op op, NewFiles* files, std::vector<MessageId>* newIds);

    // Files of a commit whose outcome was unknown: now that the journal has been
    // read again, those no message refers to are removed.
    void DropSuspects();

    void RemoveFiles(const std::vector<uint64_t>& files);

    // Files a commit let go: kept for TakeLetGoFiles, or removed now and forgotten.
    void LetGo(const std::vector<uint64_t>& freed);
    LetGoFile LetGoOf(uint64_t no, bool prove) const;
    // Commits that these let-go files are gone. Not flushed apart from the
    // record itself; a failure leaves the records, and the next open looks again.
    void ForgetGone(std::vector<uint64_t> files);
    // At open: files of deletes whose removal a closed or killed session left
    // undone go now (or, with removeLetGoFilesLater, to TakeLetGoFiles), each
    // only while it holds what was deleted; the rest are forgotten.
    void LetGoAtOpen();

    // Appends one record and makes it durable, then applies it. *undone tells, on
    // failure, that the record is certainly not in the journal.
    Status Commit(detail::Transaction tx, bool* undone);

    Status CommitOps(std::vector<detail::Op> ops);

    // Unaccounted files are swept while the journal still says which ones
    // committed deletes let go; files of the flat layout move to sub-directories
    // once the snapshot is in.
    Status CompactLocked();

    // Each file of the flat layout goes to its sub-directory by one rename, so a
    // crash leaves it in one place or the other, and both are read.
    Status MoveIntoShards(const std::vector<detail::FoundFile>& present);

    // ---- Files no record accounts for (only under the writer lock) ----

    std::unordered_set<uint64_t> Suspected() const;

    detail::Evidence MakeEvidence(std::unordered_set<uint64_t> ours) const;

    // Removes or sets aside one unaccounted file, as Decide says.
    void Dispose(const detail::FoundFile& file, const detail::Evidence& ev);

    // At compaction: every message file the state does not name.
    void SweepOrphans(const std::vector<detail::FoundFile>& present);

    // At open: a batch a crash cut short, then files past the counter (left by a
    // journal cut, or come from outside). Files committed deletes let go wait for
    // compaction: looking for each would cost a lookup per file.
    void TidyAtOpen();

    // ---- Validation helpers ----

    Status NeedFolder(FolderId id, const detail::FolderRec** out) const;

    Status NeedMessage(FolderId folder, MessageId id, const detail::MessageRec** out) const;

    Status NeedMessages(const detail::FolderRec& f, const std::vector<MessageId>& ids) const;
};

} // namespace mailstore
