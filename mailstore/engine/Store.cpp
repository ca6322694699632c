#include "Store.h"

#include "Charsets.h"
#include "Journal.h"
#include "MessageParser.h"
#include "State.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace mailstore {

using detail::FolderRec;
using detail::MessageRec;
using detail::NewMessage;
using detail::Op;
using detail::OpType;
using detail::State;
using detail::Transaction;

namespace {

constexpr const char* kSnapshotName = "snapshot.bin";
constexpr const char* kJournalName = "journal.bin";
constexpr const char* kLockName = "lock";
constexpr const char* kMessagesDir = "messages";
constexpr uint64_t kMaxMessageSize = 0xFFFFFFFFull;

// Like ReadWhole, into memory that is not cleared first: snapshots are large.
Status ReadWholeRaw(FileSystem& fs, const std::string& path, std::unique_ptr<char[]>* out,
                    size_t* size, bool* missing) {
    std::unique_ptr<File> f;
    uint64_t fileSize = 0;
    Status s = OpenToRead(fs, path, &f, &fileSize, missing);
    if (!s.ok())
        return s;
    if (fileSize > SIZE_MAX / 2)
        return Status(ErrorCode::TooLarge, path + " is too large to read");
    out->reset(new char[static_cast<size_t>(fileSize) + 1]);
    return f->ReadAt(0, out->get(), static_cast<size_t>(fileSize), size);
}

Status ReadWhole(FileSystem& fs, const std::string& path, std::string* out, bool* missing) {
    std::unique_ptr<File> f;
    uint64_t size = 0;
    Status s = OpenToRead(fs, path, &f, &size, missing);
    if (!s.ok())
        return s;
    out->resize(static_cast<size_t>(size));
    size_t got = 0;
    s = f->ReadAt(0, out->data(), out->size(), &got);
    if (!s.ok())
        return s;
    out->resize(got);
    return Status();
}

// Creates or empties the file at path, writes bytes and flushes them; the file
// is closed again on return.
Status WriteFlushedFile(FileSystem& fs, const std::string& path, std::string_view bytes) {
    std::unique_ptr<File> f;
    Status s = fs.Open(path, OpenMode::CreateAlways, &f);
    if (s.ok())
        s = f->WriteAt(0, bytes.data(), bytes.size());
    if (s.ok())
        s = f->Flush();
    return s;
}

// Writes a whole new file under a temporary name, flushes it and renames it over
// path, so readers see the old file or the new one, never a part.
Status ReplaceFile(FileSystem& fs, const std::string& dir, const std::string& name,
                   std::string_view bytes) {
    const std::string tmp = dir + "/" + name + ".tmp";
    Status s = WriteFlushedFile(fs, tmp, bytes);
    if (s.ok())
        s = fs.Rename(tmp, dir + "/" + name);
    if (s.ok())
        s = fs.SyncDir(dir);
    return s;
}

Status ValidateName(std::string_view name) {
    if (name.empty())
        return Status(ErrorCode::InvalidName, "a folder name cannot be empty");
    if (name.size() > kMaxFolderNameBytes)
        return Status(ErrorCode::InvalidName, "a folder name is at most 255 bytes");
    if (!IsValidUtf8(name))
        return Status(ErrorCode::InvalidName, "a folder name must be valid UTF-8 text");
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool c1 = c == 0xC2 && i + 1 < name.size() &&
                  static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                  static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1)
            return Status(ErrorCode::InvalidName, "a folder name cannot hold control characters");
    }
    return Status();
}

Status UnknownFolder(FolderId id) {
    return Status(ErrorCode::UnknownFolder, "no folder with id " + std::to_string(id));
}

Status UnknownMessage(FolderId folder, MessageId id) {
    return Status(ErrorCode::UnknownMessage, "no message with id " + std::to_string(id) +
                                                 " in folder " + std::to_string(folder));
}

Status CheckNameFree(const State& state, FolderId parent, std::string_view name) {
    if (state.ChildByName(parent, name) != nullptr)
        return Status(ErrorCode::NameExists,
                      "a folder named \"" + std::string(name) + "\" already exists there");
    return Status();
}

// The message files some folder refers to.
std::unordered_set<uint64_t> FilesInUse(const State& state) {
    std::unordered_set<uint64_t> used;
    for (const auto& [id, f] : state.folders()) {
        for (const MessageRec& m : f.messages)
            used.insert(m.fileNo);
    }
    return used;
}

// The answer of a change that had no messages to add.
Status NoNewIds(std::vector<MessageId>* newIds) {
    if (newIds)
        newIds->clear();
    return Status();
}

// Ids without repeats, first occurrence kept.
std::vector<MessageId> Unique(const std::vector<MessageId>& ids) {
    std::vector<MessageId> out;
    std::unordered_set<MessageId> seen;
    out.reserve(ids.size());
    for (MessageId id : ids) {
        if (seen.insert(id).second)
            out.push_back(id);
    }
    return out;
}

class FileMessageReader : public MessageReader {
  public:
    FileMessageReader(std::unique_ptr<File> file, uint64_t size)
        : file_(std::move(file)), size_(size) {}
    uint64_t Size() const override { return size_; }
    Status ReadAt(uint64_t offset, void* buf, size_t len, size_t* got) override {
        *got = 0;
        if (offset >= size_)
            return Status();
        if (len > size_ - offset)
            len = static_cast<size_t>(size_ - offset);
        return file_->ReadAt(offset, buf, len, got);
    }

  private:
    std::unique_ptr<File> file_;
    uint64_t size_;
};

} // namespace

// ---- Loading -------------------------------------------------------------------------

struct Loaded {
    State state;
    uint64_t generation = 0;
    uint64_t journalEnd = 0;
    bool journalStale = false; // journal missing or older than the snapshot
    bool torn = false;
    uint64_t journalRecords = 0;
    std::vector<uint64_t> freedFiles; // freed by records since the snapshot
};

namespace {

// Applies journal records (file bytes from offset base on) to state.
Status ReplayRecords(std::string_view data, uint64_t base, const std::string& journalPath,
                     State* state, std::vector<ChangeEvent>* events, std::vector<uint64_t>* freed,
                     detail::ScanResult* scan) {
    *scan = detail::ScanRecords(data, base);
    if (scan->damaged)
        return Status(ErrorCode::Corrupt, journalPath + ": damaged record at offset " +
                                              std::to_string(scan->damageOffset));
    for (const detail::ScannedRecord& r : scan->records) {
        Transaction tx;
        if (!detail::DecodeTransaction(r.payload, &tx))
            return Status(ErrorCode::Corrupt, journalPath + ": unreadable record at offset " +
                                                  std::to_string(r.offset));
        Status s = state->Apply(tx, events, freed);
        if (!s.ok())
            return Status(ErrorCode::Corrupt, journalPath + ": record at offset " +
                                                  std::to_string(r.offset) +
                                                  " does not fit: " + s.message());
    }
    return Status();
}

// With diffBase, events turn diffBase into the snapshot's state, then follow the
// journal's records one by one.
Status LoadStoreOnce(FileSystem& fs, const std::string& dir, Loaded* out, const State* diffBase,
                     std::vector<ChangeEvent>* events, bool* raced) {
    const std::string snapPath = dir + "/" + kSnapshotName;
    const std::string journalPath = dir + "/" + kJournalName;
    std::unique_ptr<char[]> snap;
    size_t snapSize = 0;
    bool missing = false;
    Status s = ReadWholeRaw(fs, snapPath, &snap, &snapSize, &missing);
    if (!s.ok()) {
        if (missing)
            return Status(ErrorCode::NotAStore, dir + " holds no mail store");
        return s;
    }
    s = State::DecodeSnapshot(std::move(snap), snapSize, snapPath, &out->generation, &out->state);
    if (!s.ok())
        return s;
    if (diffBase != nullptr)
        State::Diff(*diffBase, out->state, events);
    std::string journal;
    s = ReadWhole(fs, journalPath, &journal, &missing);
    if (!s.ok()) {
        if (!missing)
            return s;
        out->journalStale = true;
        out->journalEnd = 0;
        return Status();
    }
    uint64_t jgen = 0;
    if (!detail::DecodeJournalHeader(journal, &jgen))
        return Status(ErrorCode::Corrupt, journalPath + ": bad header at offset 0");
    if (jgen < out->generation) {
        out->journalStale = true; // its records are all in the snapshot already
        out->journalEnd = 0;
        return Status();
    }
    if (jgen > out->generation) {
        // Another process may have compacted between the two reads.
        *raced = true;
        return Status(ErrorCode::Corrupt,
                      journalPath + ": continues a snapshot that is missing (offset 8)");
    }
    detail::ScanResult scan;
    std::string_view body = std::string_view(journal).substr(detail::kJournalHeaderSize);
    s = ReplayRecords(body, detail::kJournalHeaderSize, journalPath, &out->state, events,
                      &out->freedFiles, &scan);
    if (!s.ok())
        return s;
    out->journalEnd = scan.validEnd;
    out->torn = scan.torn;
    out->journalRecords = scan.records.size();
    return Status();
}

Status LoadStore(FileSystem& fs, const std::string& dir, Loaded* out,
                 const State* diffBase = nullptr, std::vector<ChangeEvent>* events = nullptr) {
    for (int attempt = 0;; ++attempt) {
        bool raced = false;
        std::vector<ChangeEvent> attemptEvents;
        Loaded l;
        Status s = LoadStoreOnce(fs, dir, &l, diffBase, events ? &attemptEvents : nullptr, &raced);
        if (raced && attempt < 5)
            continue;
        if (s.ok()) {
            *out = std::move(l);
            if (events)
                events->insert(events->end(), attemptEvents.begin(), attemptEvents.end());
        }
        return s;
    }
}

} // namespace

// ---- Impl ----------------------------------------------------------------------------

class Store::Impl {
  public:
    Impl(std::string directory, const OpenOptions& options)
        : dir(std::move(directory)), fs(options.fs ? options.fs : &DefaultFileSystem()),
          opts(options) {
        if (!opts.clock)
            opts.clock = FileTimeNow;
    }

    std::string dir;
    FileSystem* fs;
    OpenOptions opts;
    State state;
    uint64_t generation = 0;
    uint64_t journalEnd = 0;
    bool journalStale = false;
    uint64_t fileFloor = 0; // file numbers below this are taken or were seen on disk
    std::vector<uint64_t> suspects;
    std::vector<ChangeEvent> events;
    Status broken; // set when memory and disk can no longer be trusted to agree

    std::string Path(const char* name) const { return dir + "/" + name; }
    std::string MessagesDir() const { return dir + "/" + kMessagesDir; }
    std::string MessagePath(uint64_t fileNo) const {
        return MessagesDir() + "/" + detail::MessageFileName(fileNo);
    }

    void Adopt(Loaded&& l) {
        state = std::move(l.state);
        generation = l.generation;
        journalEnd = l.journalEnd;
        journalStale = l.journalStale;
    }

    // ---- Catching up with other processes ----

    Status CatchUp(bool* changed) {
        if (changed)
            *changed = false;
        if (!broken.ok())
            return broken;
        const std::string journalPath = Path(kJournalName);
        std::unique_ptr<File> f;
        bool missing = false;
        Status s = fs->Open(journalPath, OpenMode::Read, &f, &missing);
        if (!s.ok())
            return missing ? Status() : s;
        std::string header(detail::kJournalHeaderSize, '\0');
        size_t got = 0;
        s = f->ReadAt(0, header.data(), header.size(), &got);
        if (!s.ok())
            return s;
        uint64_t jgen = 0;
        if (got < header.size() || !detail::DecodeJournalHeader(header, &jgen))
            return Status(ErrorCode::Corrupt, journalPath + ": bad header at offset 0");
        if (jgen < generation)
            return Status(); // a compaction is half-way; its snapshot is what we have
        if (jgen == generation) {
            if (journalStale) {
                // Another writer started the journal this snapshot continues.
                journalStale = false;
                journalEnd = detail::kJournalHeaderSize;
            }
            uint64_t size = 0;
            s = f->Size(&size);
            if (!s.ok() || size <= journalEnd)
                return s;
            std::string tail(static_cast<size_t>(size - journalEnd), '\0');
            s = f->ReadAt(journalEnd, tail.data(), tail.size(), &got);
            if (!s.ok())
                return s;
            tail.resize(got);
            f.reset();
            return ApplyTail(tail, journalEnd, changed);
        }
        f.reset();
        return Reload(changed);
    }

    Status ApplyTail(std::string_view tail, uint64_t base, bool* changed) {
        std::vector<ChangeEvent> newEvents;
        std::vector<uint64_t> freed;
        detail::ScanResult scan;
        Status s = ReplayRecords(tail, base, Path(kJournalName), &state, &newEvents, &freed, &scan);
        if (!s.ok()) {
            broken = s;
            return s;
        }
        journalEnd = scan.validEnd;
        if (changed && !scan.records.empty())
            *changed = true;
        events.insert(events.end(), newEvents.begin(), newEvents.end());
        return Status();
    }

    // Another process compacted: read its snapshot and continue from there.
    Status Reload(bool* changed) {
        Loaded l;
        std::vector<ChangeEvent> diff;
        Status s = LoadStore(*fs, dir, &l, &state, &diff);
        if (!s.ok())
            return s;
        if (changed && !diff.empty())
            *changed = true;
        events.insert(events.end(), diff.begin(), diff.end());
        Adopt(std::move(l));
        return Status();
    }

    // ---- Writing ----

    Status Lock(std::unique_ptr<FileLock>* lock) {
        if (!broken.ok())
            return broken;
        return fs->Lock(Path(kLockName), opts.lockTimeoutMs, lock);
    }

    // Begin, for a change to the existing folder `folder`.
    Status BeginOn(FolderId folder, std::unique_ptr<FileLock>* lock, const FolderRec** f) {
        Status s = Begin(lock);
        if (s.ok())
            s = NeedFolder(folder, f);
        return s;
    }

    // BeginOn, for a change to the messages `ids` of the folder.
    Status BeginOnMessages(FolderId folder, const std::vector<MessageId>& ids,
                           std::unique_ptr<FileLock>* lock, const FolderRec** f) {
        Status s = BeginOn(folder, lock, f);
        if (s.ok())
            s = NeedMessages(**f, ids);
        return s;
    }

    // Takes the writer lock and brings the state up to date; every change starts here.
    Status Begin(std::unique_ptr<FileLock>* lock) {
        Status s = Lock(lock);
        if (s.ok())
            s = CatchUp(nullptr);
        if (s.ok() && journalStale)
            s = StartJournal();
        if (s.ok() && !suspects.empty())
            DropSuspects();
        if (!s.ok())
            lock->reset();
        return s;
    }

    Status StartJournal() {
        Status s = ReplaceFile(*fs, dir, kJournalName, detail::EncodeJournalHeader(generation));
        if (!s.ok())
            return s;
        journalStale = false;
        journalEnd = detail::kJournalHeaderSize;
        return Status();
    }

    uint64_t NextFileNo() const { return std::max(state.nextFileNo, fileFloor); }

    // Writes a new message file under a name never used before. Its flush is left
    // to FlushFiles, so a batch's files reach the disk together: on journalling
    // file systems the first flush then carries most of the others' data.
    Status WriteMessageFile(std::string_view bytes, uint64_t* fileNo,
                            std::vector<std::unique_ptr<File>>* unflushed) {
        uint64_t no = NextFileNo();
        for (int attempt = 0;; ++attempt, ++no) {
            std::unique_ptr<File> f;
            Status s = fs->Open(MessagePath(no), OpenMode::CreateNew, &f);
            if (s.code() == ErrorCode::AlreadyExists && attempt < 1000) {
                // Left by a writer that died before committing: nothing refers to it.
                fs->Remove(MessagePath(no));
                continue;
            }
            if (!s.ok())
                return s;
            fileFloor = no + 1;
            s = f->WriteAt(0, bytes.data(), bytes.size());
            if (!s.ok()) {
                f.reset();
                fs->Remove(MessagePath(no));
                return s;
            }
            *fileNo = no;
            unflushed->push_back(std::move(f));
            // Bounded, so a large batch never runs out of file handles.
            return unflushed->size() >= 64 ? FlushFiles(unflushed) : Status();
        }
    }

    static Status FlushFiles(std::vector<std::unique_ptr<File>>* files) {
        Status result;
        for (auto& f : *files) {
            Status s = f->Flush();
            if (result.ok() && !s.ok())
                result = s;
        }
        files->clear();
        return result;
    }

    // Message files written for one change that is not committed yet.
    struct NewFiles {
        std::vector<uint64_t> written;
        std::vector<std::unique_ptr<File>> unflushed;
    };

    // A file that was created is remembered even when a later step failed, so
    // Abandon removes it too.
    Status WriteBatchFile(std::string_view bytes, NewFiles* files, uint64_t* fileNo) {
        *fileNo = 0;
        Status s = WriteMessageFile(bytes, fileNo, &files->unflushed);
        if (*fileNo != 0)
            files->written.push_back(*fileNo);
        return s;
    }

    void Abandon(NewFiles* files) {
        files->unflushed.clear();
        RemoveFiles(files->written);
    }

    // Makes the batch's files durable, then commits op, which adds their messages.
    Status CommitNewMessages(Op op, NewFiles* files, std::vector<MessageId>* newIds) {
        Status s = FlushFiles(&files->unflushed);
        if (s.ok())
            s = fs->SyncDir(MessagesDir());
        if (!s.ok()) {
            Abandon(files);
            return s;
        }
        std::vector<MessageId> ids;
        for (const NewMessage& m : op.messages)
            ids.push_back(m.rec.id);
        Transaction tx;
        tx.ops.push_back(std::move(op));
        bool undone = false;
        s = Commit(std::move(tx), &undone);
        if (!s.ok()) {
            if (undone)
                Abandon(files);
            else // the next change checks whether the record made it
                suspects.insert(suspects.end(), files->written.begin(), files->written.end());
            return s;
        }
        if (newIds)
            *newIds = std::move(ids);
        return Status();
    }

    // Files of a commit whose outcome was unknown: now that the journal has been
    // read again, those no message refers to are removed.
    void DropSuspects() {
        const std::unordered_set<uint64_t> used = FilesInUse(state);
        std::vector<uint64_t> again;
        for (uint64_t no : suspects) {
            if (used.count(no) == 0 && !fs->Remove(MessagePath(no)).ok())
                again.push_back(no);
        }
        suspects.swap(again);
    }

    void RemoveFiles(const std::vector<uint64_t>& files) {
        for (uint64_t no : files) {
            if (!fs->Remove(MessagePath(no)).ok())
                suspects.push_back(no); // tried again at the next change
        }
    }

    // Appends one record and makes it durable, then applies it. *undone tells, on
    // failure, that the record is certainly not in the journal.
    Status Commit(Transaction tx, bool* undone) {
        *undone = false;
        tx.seq = state.lastSeq + 1;
        std::string payload;
        detail::EncodeTransaction(tx, &payload);
        if (payload.size() > detail::kMaxRecordPayload) {
            *undone = true;
            return Status(ErrorCode::TooLarge, "too many messages in one change");
        }
        std::string record;
        detail::AppendRecord(payload, &record);

        const std::string journalPath = Path(kJournalName);
        std::unique_ptr<File> f;
        Status s = fs->Open(journalPath, OpenMode::ReadWrite, &f);
        if (!s.ok()) {
            *undone = true;
            return s;
        }
        uint64_t size = 0;
        s = f->Size(&size);
        if (s.ok() && size != journalEnd)
            s = f->Truncate(journalEnd); // a torn tail left by a writer that died
        if (!s.ok()) {
            *undone = true;
            return s;
        }
        s = f->WriteAt(journalEnd, record.data(), record.size());
        if (s.ok())
            s = f->Flush();
        if (!s.ok()) {
            // Try to take the record back; if that fails too it may yet be read as
            // committed, which the next catch-up handles like any other record.
            if (f->Truncate(journalEnd).ok() && f->Flush().ok())
                *undone = true;
            return s;
        }
        f.reset();
        std::vector<uint64_t> freed;
        s = state.Apply(tx, &events, &freed);
        if (!s.ok()) {
            broken = Status(ErrorCode::Corrupt, "internal error applying a change: " + s.message());
            return broken;
        }
        journalEnd += record.size();
        RemoveFiles(freed);
        if (journalEnd > opts.compactJournalBytes)
            CompactLocked(); // the change is durable either way
        return Status();
    }

    Status CommitOps(std::vector<Op> ops) {
        Transaction tx;
        tx.ops = std::move(ops);
        bool undone = false;
        return Commit(std::move(tx), &undone);
    }

    Status CompactLocked() {
        std::string snap;
        const uint64_t newGen = generation + 1;
        state.EncodeSnapshot(newGen, &snap);
        const std::string tmpSnap = Path(kSnapshotName) + std::string(".tmp");
        const std::string tmpJournal = Path(kJournalName) + std::string(".tmp");
        Status s = WriteFlushedFile(*fs, tmpSnap, snap);
        if (s.ok())
            s = WriteFlushedFile(*fs, tmpJournal, detail::EncodeJournalHeader(newGen));
        // From this rename on, the old journal is stale: its records are in the snapshot.
        if (s.ok())
            s = fs->Rename(tmpSnap, Path(kSnapshotName));
        if (s.ok())
            s = fs->SyncDir(dir);
        if (!s.ok())
            return s;
        generation = newGen;
        journalStale = true;
        s = fs->Rename(tmpJournal, Path(kJournalName));
        if (s.ok())
            s = fs->SyncDir(dir);
        if (!s.ok())
            return s;
        journalStale = false;
        journalEnd = detail::kJournalHeaderSize;
        SweepOrphans();
        return Status();
    }

    // Removes message files nothing refers to. Only under the writer lock.
    void SweepOrphans() {
        std::vector<std::string> names;
        if (!fs->ListDir(MessagesDir(), &names).ok())
            return;
        const std::unordered_set<uint64_t> used = FilesInUse(state);
        for (const std::string& name : names) {
            uint64_t no = 0;
            if (detail::ParseMessageFileName(name, &no) && used.count(no) == 0) {
                fs->Remove(MessagesDir() + "/" + name);
                fileFloor = std::max(fileFloor, no + 1);
            }
        }
    }

    // At open, under the lock: files freed by committed deletes whose removal a
    // crash cut short, and files a dead writer wrote but never committed.
    void RecoverFiles(const std::vector<uint64_t>& freed) {
        for (uint64_t no : freed) {
            if (fs->Exists(MessagePath(no)))
                fs->Remove(MessagePath(no));
        }
        uint64_t no = state.nextFileNo;
        while (fs->Exists(MessagePath(no))) {
            fs->Remove(MessagePath(no));
            ++no;
        }
        fileFloor = std::max(fileFloor, no);
    }

    // ---- Validation helpers ----

    Status NeedFolder(FolderId id, const FolderRec** out) const {
        *out = state.Folder(id);
        return *out ? Status() : UnknownFolder(id);
    }

    Status NeedMessage(FolderId folder, MessageId id, const MessageRec** out) const {
        *out = nullptr;
        const FolderRec* f;
        Status s = NeedFolder(folder, &f);
        if (!s.ok())
            return s;
        *out = f->Find(id);
        return *out ? Status() : UnknownMessage(folder, id);
    }

    Status NeedMessages(const FolderRec& f, const std::vector<MessageId>& ids) const {
        for (MessageId id : ids) {
            if (f.Find(id) == nullptr)
                return UnknownMessage(f.id, id);
        }
        return Status();
    }
};

// ---- Store ---------------------------------------------------------------------------

Store::Store(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Store::~Store() = default;

Status Store::Open(const std::string& dir, const OpenOptions& options,
                   std::unique_ptr<Store>* out) {
    if (dir.empty())
        return Status(ErrorCode::InvalidArgument, "no store directory given");
    auto impl = std::make_unique<Impl>(dir, options);
    FileSystem& fs = *impl->fs;
    const std::string snapPath = impl->Path(kSnapshotName);
    if (options.create && !fs.Exists(snapPath)) {
        Status s = fs.CreateDir(dir);
        if (s.ok())
            s = fs.CreateDir(impl->MessagesDir());
        std::unique_ptr<FileLock> lock;
        if (s.ok())
            s = fs.Lock(impl->Path(kLockName), options.lockTimeoutMs, &lock);
        if (!s.ok())
            return s;
        if (!fs.Exists(snapPath)) {
            // Journal first: a snapshot is what marks the directory as a store.
            std::string snap;
            State::Initial().EncodeSnapshot(1, &snap);
            s = ReplaceFile(fs, dir, kJournalName, detail::EncodeJournalHeader(1));
            if (s.ok())
                s = ReplaceFile(fs, dir, kSnapshotName, snap);
            if (!s.ok())
                return s;
        }
    }

    // Open under the lock when it can be had, so crash leftovers can be cleaned;
    // a store another process keeps busy still opens, just without that.
    std::unique_ptr<FileLock> lock;
    Status lockStatus = fs.Lock(impl->Path(kLockName), options.lockTimeoutMs, &lock);
    if (!lockStatus.ok() && lockStatus.code() != ErrorCode::Busy && !fs.Exists(snapPath))
        return Status(ErrorCode::NotAStore, dir + " holds no mail store");
    Loaded loaded;
    Status s = LoadStore(fs, dir, &loaded);
    if (!s.ok())
        return s;
    std::vector<uint64_t> freed = std::move(loaded.freedFiles);
    impl->Adopt(std::move(loaded));
    if (lock) {
        fs.CreateDir(impl->MessagesDir());
        impl->RecoverFiles(freed);
    }
    out->reset(new Store(std::move(impl)));
    return Status();
}

const std::string& Store::Directory() const {
    return impl_->dir;
}

Status Store::GetChildren(FolderId parent, std::vector<FolderId>* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(parent, &f);
    if (!s.ok())
        return s;
    out->assign(f->children.begin(), f->children.end());
    return Status();
}

Status Store::GetFolder(FolderId folder, FolderInfo* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(folder, &f);
    if (!s.ok())
        return s;
    out->id = f->id;
    out->parent = f->parent;
    out->name = f->name;
    out->type = f->type;
    out->subFolderCount = static_cast<uint32_t>(f->children.size());
    out->messageCount = static_cast<uint32_t>(f->messages.size());
    out->unreadCount = f->unread;
    return Status();
}

Status Store::FindChild(FolderId parent, std::string_view name, FolderId* out) const {
    const FolderRec* p;
    Status s = impl_->NeedFolder(parent, &p);
    if (!s.ok())
        return s;
    const FolderRec* c = impl_->state.ChildByName(parent, name);
    if (c == nullptr)
        return Status(ErrorCode::UnknownFolder, "no folder named \"" + std::string(name) + "\"");
    *out = c->id;
    return Status();
}

Status Store::FindFolderByPath(std::string_view path, FolderId* out) const {
    FolderId cur = kRootFolder;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty()) {
            Status s = FindChild(cur, part, &cur);
            if (!s.ok())
                return s;
        }
        if (slash == std::string_view::npos)
            break;
        path.remove_prefix(slash + 1);
    }
    if (cur == kRootFolder)
        return Status(ErrorCode::InvalidArgument, "no folder named");
    *out = cur;
    return Status();
}

Status Store::GetMessageIds(FolderId folder, std::vector<MessageId>* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(folder, &f);
    if (!s.ok())
        return s;
    out->clear();
    out->reserve(f->messages.size());
    for (const MessageRec& m : f->messages)
        out->push_back(m.id);
    return Status();
}

Status Store::GetMessage(FolderId folder, MessageId message, MessageInfo* out) const {
    const MessageRec* m;
    Status s = impl_->NeedMessage(folder, message, &m);
    if (!s.ok())
        return s;
    out->id = m->id;
    out->folder = folder;
    out->state = m->state;
    out->priority = m->priority;
    out->received = m->received;
    out->sent = m->sent;
    out->size = m->size;
    out->subject.assign(m->subject);
    out->to.assign(m->to);
    out->from.assign(m->from);
    return Status();
}

Status Store::OpenMessageSource(FolderId folder, MessageId message,
                                std::unique_ptr<MessageReader>* out) const {
    const MessageRec* m;
    Status s = impl_->NeedMessage(folder, message, &m);
    if (!s.ok())
        return s;
    std::unique_ptr<File> file;
    s = impl_->fs->Open(impl_->MessagePath(m->fileNo), OpenMode::Read, &file);
    if (!s.ok())
        return s;
    *out = std::make_unique<FileMessageReader>(std::move(file), m->size);
    return Status();
}

// ---- Folder changes ---------------------------------------------------------------------

Status Store::CreateFolder(FolderId parent, std::string_view name, FolderId* newId) {
    Status s = ValidateName(name);
    if (!s.ok())
        return s;
    std::unique_ptr<FileLock> lock;
    const FolderRec* p;
    s = impl_->BeginOn(parent, &lock, &p);
    if (s.ok())
        s = CheckNameFree(impl_->state, parent, name);
    if (!s.ok())
        return s;
    if (impl_->state.nextFolderId == 0xFFFFFFFFu)
        return Status(ErrorCode::InvalidArgument, "no folder ids left");
    Op op;
    op.type = OpType::CreateFolder;
    op.folder = impl_->state.nextFolderId;
    op.parent = parent;
    op.name = std::string(name);
    s = impl_->CommitOps({op});
    if (s.ok() && newId != nullptr)
        *newId = op.folder;
    return s;
}

namespace {
Status CheckChangeable(const FolderRec* f, const char* what) {
    if (f->id == kRootFolder)
        return Status(ErrorCode::InvalidArgument, std::string("the root folder cannot be ") + what);
    if (f->type != kFolderNormal)
        return Status(ErrorCode::SpecialFolder,
                      "\"" + f->name + "\" is a special folder and cannot be " + what);
    return Status();
}
} // namespace

Status Store::RenameFolder(FolderId folder, std::string_view newName) {
    Status s = ValidateName(newName);
    if (!s.ok())
        return s;
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckChangeable(f, "renamed");
    if (!s.ok())
        return s;
    if (f->name == newName)
        return Status();
    s = CheckNameFree(impl_->state, f->parent, newName);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::RenameFolder;
    op.folder = folder;
    op.name = std::string(newName);
    return impl_->CommitOps({op});
}

Status Store::MoveFolder(FolderId folder, FolderId newParent) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    const FolderRec* p;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = impl_->NeedFolder(newParent, &p);
    if (s.ok())
        s = CheckChangeable(f, "moved");
    if (!s.ok())
        return s;
    if (impl_->state.IsAncestorOrSelf(folder, newParent))
        return Status(ErrorCode::IntoOwnSubtree,
                      "a folder cannot move into itself or one of its sub-folders");
    if (f->parent == newParent)
        return Status();
    s = CheckNameFree(impl_->state, newParent, f->name);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::MoveFolder;
    op.folder = folder;
    op.parent = newParent;
    return impl_->CommitOps({op});
}

Status Store::DeleteFolder(FolderId folder) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckChangeable(f, "deleted");
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::DeleteFolder;
    op.folder = folder;
    return impl_->CommitOps({op});
}

// ---- Message changes --------------------------------------------------------------------

namespace {
// Whether `count` new messages can go into the folder `to`.
Status CheckRoom(const Store::Impl& impl, FolderId to, size_t count) {
    if (to == kRootFolder)
        return Status(ErrorCode::InvalidArgument, "messages cannot be stored in the root folder");
    if (uint64_t(impl.state.nextMessageId) + count > 0xFFFFFFFFull)
        return Status(ErrorCode::InvalidArgument, "no message ids left");
    return Status();
}
} // namespace

namespace {
// The best guess at when a message arrived, for sources that do not say.
uint64_t ReceivedTime(const ParsedHeaders& h, const ImportItem& item,
                      const std::function<uint64_t()>& now) {
    for (uint64_t t :
         {h.received, item.delivered.value_or(0), h.sent, item.fileModified.value_or(0)}) {
        if (t != 0)
            return t;
    }
    return now();
}
} // namespace

Status Store::ImportMessage(FolderId folder, std::string_view source, MessageId* newId,
                            std::optional<uint32_t> state) {
    ImportItem item;
    item.source = source;
    item.state = state;
    std::vector<MessageId> ids;
    Status s = ImportMessages(folder, {item}, &ids);
    if (s.ok() && newId != nullptr)
        *newId = ids.front();
    return s;
}

Status Store::ImportMessages(FolderId folder, const std::vector<ImportItem>& items,
                             std::vector<MessageId>* newIds) {
    // Parse before taking the lock: it is the slow part and needs no store state.
    Op op;
    op.type = OpType::AddMessages;
    op.folder = folder;
    op.messages.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const ImportItem& item = items[i];
        if (item.source.empty())
            return Status(ErrorCode::InvalidArgument, "an empty message cannot be imported");
        if (item.source.size() > kMaxMessageSize)
            return Status(ErrorCode::TooLarge, "a message of 4 GiB or more cannot be stored");
        if (item.state && (*item.state & ~kKnownStateBits) != 0)
            return Status(ErrorCode::InvalidArgument, "unknown message state bits");
        ParsedHeaders h = ParseHeaders(item.source);
        NewMessage& m = op.messages[i];
        m.rec.state = item.state ? *item.state : kStateUnread;
        m.rec.priority = h.priority;
        m.rec.size = static_cast<uint32_t>(item.source.size());
        m.rec.sent = h.sent;
        m.rec.received = item.received ? *item.received : ReceivedTime(h, item, impl_->opts.clock);
        m.subject = std::move(h.subject);
        m.to = std::move(h.to);
        m.from = std::move(h.from);
    }
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (s.ok())
        s = CheckRoom(*impl_, folder, items.size());
    if (!s.ok())
        return s;
    if (items.empty())
        return NoNewIds(newIds);
    Impl::NewFiles files;
    for (size_t i = 0; i < items.size(); ++i) {
        NewMessage& m = op.messages[i];
        m.rec.id = impl_->state.nextMessageId + static_cast<MessageId>(i);
        s = impl_->WriteBatchFile(items[i].source, &files, &m.rec.fileNo);
        if (!s.ok()) {
            impl_->Abandon(&files);
            return s;
        }
    }
    return impl_->CommitNewMessages(std::move(op), &files, newIds);
}

namespace {
// Begin, for copying or moving ids from one folder to another.
Status BeginTransfer(Store::Impl& impl, FolderId from, FolderId to,
                     const std::vector<MessageId>& ids, std::unique_ptr<FileLock>* lock,
                     const FolderRec** src) {
    const FolderRec* dst;
    Status s = impl.BeginOn(from, lock, src);
    if (s.ok())
        s = impl.NeedFolder(to, &dst);
    if (s.ok())
        s = impl.NeedMessages(**src, ids);
    if (s.ok())
        s = CheckRoom(impl, to, ids.size());
    return s;
}
} // namespace

Status Store::CopyMessages(FolderId from, FolderId to, const std::vector<MessageId>& idsIn,
                           std::vector<MessageId>* newIds) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* src;
    Status s = BeginTransfer(*impl_, from, to, ids, &lock, &src);
    if (!s.ok())
        return s;
    if (ids.empty())
        return NoNewIds(newIds);
    Op op;
    op.type = OpType::AddMessages;
    op.folder = to;
    Impl::NewFiles files;
    for (size_t i = 0; i < ids.size(); ++i) {
        const MessageRec& m = *src->Find(ids[i]);
        std::string bytes;
        bool missing = false;
        s = ReadWhole(*impl_->fs, impl_->MessagePath(m.fileNo), &bytes, &missing);
        NewMessage n;
        n.rec = m;
        n.rec.id = impl_->state.nextMessageId + static_cast<MessageId>(i);
        n.subject.assign(m.subject);
        n.to.assign(m.to);
        n.from.assign(m.from);
        if (s.ok())
            s = impl_->WriteBatchFile(bytes, &files, &n.rec.fileNo);
        if (!s.ok()) {
            impl_->Abandon(&files);
            return s;
        }
        op.messages.push_back(std::move(n));
    }
    return impl_->CommitNewMessages(std::move(op), &files, newIds);
}

Status Store::MoveMessages(FolderId from, FolderId to, const std::vector<MessageId>& idsIn,
                           std::vector<MessageId>* newIds) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* src;
    Status s = BeginTransfer(*impl_, from, to, ids, &lock, &src);
    if (!s.ok())
        return s;
    if (from == to)
        return Status(ErrorCode::InvalidArgument, "source and target are the same folder");
    if (ids.empty())
        return NoNewIds(newIds);
    Op op;
    op.type = OpType::MoveMessages;
    op.folder = from;
    op.parent = to;
    op.ids = ids;
    for (size_t i = 0; i < ids.size(); ++i)
        op.newIds.push_back(impl_->state.nextMessageId + static_cast<MessageId>(i));
    std::vector<MessageId> ids2 = op.newIds;
    s = impl_->CommitOps({std::move(op)});
    if (s.ok() && newIds)
        *newIds = std::move(ids2);
    return s;
}

Status Store::DeleteMessages(FolderId folder, const std::vector<MessageId>& idsIn) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOnMessages(folder, ids, &lock, &f);
    if (!s.ok() || ids.empty())
        return s;
    Op op;
    op.type = OpType::DeleteMessages;
    op.folder = folder;
    op.ids = ids;
    return impl_->CommitOps({std::move(op)});
}

namespace {
Status SetBits(Store::Impl& impl, FolderId folder, const std::vector<MessageId>& idsIn,
               uint32_t mask, bool on) {
    const std::vector<MessageId> ids = Unique(idsIn);
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl.BeginOnMessages(folder, ids, &lock, &f);
    if (!s.ok())
        return s;
    Op op;
    op.type = OpType::SetState;
    op.folder = folder;
    op.mask = mask;
    op.value = on ? mask : 0;
    // Only messages that change are recorded, so a repeated mark costs nothing.
    for (MessageId id : ids) {
        if (((f->Find(id)->state & mask) != 0) != on)
            op.ids.push_back(id);
    }
    if (op.ids.empty())
        return Status();
    return impl.CommitOps({std::move(op)});
}
} // namespace

Status Store::MarkRead(FolderId folder, const std::vector<MessageId>& ids, bool read) {
    return SetBits(*impl_, folder, ids, kStateUnread, !read);
}

Status Store::SetFlagged(FolderId folder, const std::vector<MessageId>& ids, bool flagged) {
    return SetBits(*impl_, folder, ids, kStateFlagged, flagged);
}

Status Store::MarkAllRead(FolderId folder, bool read) {
    std::unique_ptr<FileLock> lock;
    const FolderRec* f;
    Status s = impl_->BeginOn(folder, &lock, &f);
    if (!s.ok())
        return s;
    bool any = false;
    for (const MessageRec& m : f->messages) {
        if (((m.state & kStateUnread) != 0) == read) {
            any = true;
            break;
        }
    }
    if (!any)
        return Status();
    Op op;
    op.type = OpType::SetStateAll;
    op.folder = folder;
    op.mask = kStateUnread;
    op.value = read ? 0 : kStateUnread;
    return impl_->CommitOps({std::move(op)});
}

Status Store::Compact() {
    std::unique_ptr<FileLock> lock;
    Status s = impl_->Begin(&lock);
    if (!s.ok())
        return s;
    return impl_->CompactLocked();
}

Status Store::Refresh(bool* changed) {
    return impl_->CatchUp(changed);
}

std::vector<ChangeEvent> Store::TakeEvents() {
    std::vector<ChangeEvent> out;
    out.swap(impl_->events);
    return out;
}

bool Store::HasEvents() const {
    return !impl_->events.empty();
}

// ---- Check -----------------------------------------------------------------------------

Status Store::Check(const std::string& dir, FileSystem* fsIn, CheckReport* report) {
    FileSystem& fs = fsIn ? *fsIn : DefaultFileSystem();
    *report = CheckReport();
    Loaded l;
    Status s = LoadStore(fs, dir, &l);
    if (s.code() == ErrorCode::NotAStore)
        return s;
    if (!s.ok()) {
        report->ok = false;
        report->problems.push_back(s.message());
        return Status();
    }
    report->journalRecords = l.journalRecords;
    if (l.torn) {
        uint64_t size = 0;
        std::unique_ptr<File> f;
        if (fs.Open(dir + "/" + kJournalName, OpenMode::Read, &f).ok() && f->Size(&size).ok())
            report->tornTailBytes = size - l.journalEnd;
    }
    std::unordered_set<uint64_t> used;
    const std::string msgDir = dir + "/" + kMessagesDir;
    for (const auto& [id, f] : l.state.folders()) {
        if (id != kRootFolder)
            ++report->folders;
        for (const MessageRec& m : f.messages) {
            ++report->messages;
            used.insert(m.fileNo);
            const std::string path = msgDir + "/" + detail::MessageFileName(m.fileNo);
            std::unique_ptr<File> file;
            uint64_t size = 0;
            Status fst = fs.Open(path, OpenMode::Read, &file);
            if (fst.ok())
                fst = file->Size(&size);
            if (!fst.ok()) {
                report->problems.push_back("message " + std::to_string(m.id) + " in folder " +
                                           std::to_string(id) + ": " + fst.message());
            } else if (size != m.size) {
                report->problems.push_back(path + ": " + std::to_string(size) +
                                           " bytes, the record says " + std::to_string(m.size));
            }
        }
    }
    std::vector<std::string> names;
    if (fs.ListDir(msgDir, &names).ok()) {
        for (const std::string& name : names) {
            uint64_t no = 0;
            if (detail::ParseMessageFileName(name, &no) && used.count(no) == 0)
                ++report->orphanFiles;
        }
    }
    report->ok = report->problems.empty();
    return Status();
}

} // namespace mailstore
