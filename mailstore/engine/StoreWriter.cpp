#include "StoreWriter.h"

#include "Charsets.h"
#include "Codec.h"
#include "LetGoRemover.h"
#include "RecordCodec.h"

namespace mailstore {

using namespace detail;

namespace detail {

Status ValidateName(std::string_view name) {
    if (name.empty())
        return Status(ErrorCode::InvalidName, "a folder name cannot be empty");
    if (name.size() > kMaxFolderNameBytes)
        return Status(ErrorCode::InvalidName, "a folder name is at most 255 bytes");
    if (!IsValidUtf8(name))
        return Status(ErrorCode::InvalidName, "a folder name must be valid UTF-8 text");
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsControlAt(name, i))
            return Status(ErrorCode::InvalidName, "a folder name cannot hold control characters");
        if (DirectionControlAt(name, i) != 0)
            return Status(ErrorCode::InvalidName,
                          "a folder name cannot hold characters that turn the direction of "
                          "text (such as U+202E)");
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

// Whether an intent still proves its batch uncommitted: the journal ends where
// it did when the intent was made, after the same last change.
bool IntentHolds(const detail::Intent& in, uint64_t generation, bool journalStale,
                 uint64_t journalEnd, const State& state) {
    return !journalStale && in.generation == generation && in.journalEnd == journalEnd &&
           in.lastSeq == state.lastSeq && in.first >= state.nextFileNo &&
           in.first <= detail::kFileNoLimit && in.count <= detail::kFileNoLimit - in.first;
}

} // namespace detail

Store::Impl::Impl(std::string directory, const OpenOptions& options)
    : dir(std::move(directory)), fs(options.fs ? options.fs : &DefaultFileSystem()), opts(options) {
    if (!opts.clock)
        opts.clock = FileTimeNow;
}

void Store::Impl::Adopt(Loaded&& l) {
    state = std::move(l.state);
    generation = l.generation;
    journalEnd = l.journalEnd;
    journalStale = l.journalStale;
}

Status Store::Impl::CatchUp(bool* changed) {
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

Status Store::Impl::ApplyTail(std::string_view tail, uint64_t base, bool* changed) {
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

Status Store::Impl::Reload(bool* changed) {
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

Status Store::Impl::Lock(std::unique_ptr<FileLock>* lock, unsigned timeoutMs) {
    if (!broken.ok())
        return broken;
    Status s = fs->Lock(Path(kLockName), 0, lock);
    if (s.code() != ErrorCode::Busy || timeoutMs == 0)
        return s;
    const LockWaiter waiting; // a remover of this process steps aside
    return fs->Lock(Path(kLockName), timeoutMs, lock);
}

Status Store::Impl::BeginOn(FolderId folder, std::unique_ptr<FileLock>* lock, const FolderRec** f) {
    Status s = Begin(lock);
    if (s.ok())
        s = NeedFolder(folder, f);
    return s;
}

Status Store::Impl::BeginOnMessages(FolderId folder, const std::vector<MessageId>& ids,
                                    std::unique_ptr<FileLock>* lock, const FolderRec** f) {
    Status s = BeginOn(folder, lock, f);
    if (s.ok())
        s = NeedMessages(**f, ids);
    return s;
}

Status Store::Impl::Begin(std::unique_ptr<FileLock>* lock, unsigned timeoutMs) {
    Status s = Lock(lock, timeoutMs);
    if (s.ok())
        s = CatchUp(nullptr);
    if (s.ok() && journalStale)
        s = StartJournal();
    if (s.ok() && !suspects.empty())
        DropSuspects();
    if (s.ok())
        ResolveIntent();
    if (!s.ok())
        lock->reset();
    return s;
}

Status Store::Impl::StartJournal() {
    Status s = ReplaceFile(*fs, dir, kJournalName, detail::EncodeJournalHeader(generation));
    if (!s.ok())
        return s;
    journalStale = false;
    journalEnd = detail::kJournalHeaderSize;
    return Status();
}

Status Store::Impl::FlushFiles(std::vector<std::unique_ptr<File>>* files) {
    return FlushAndClose(*fs, files);
}

Status Store::Impl::BeginBatch(std::vector<detail::IntentFile> planned, NewFiles* files) {
    const uint64_t first = NextFileNo();
    const uint64_t count = planned.size();
    if (count > detail::kFileNoLimit - first)
        return Status(ErrorCode::TooLarge, "the store has no message file numbers left");
    ClearTheWay(first, count);
    detail::Intent intent;
    intent.generation = generation;
    intent.journalEnd = journalEnd;
    intent.lastSeq = state.lastSeq;
    intent.first = first;
    intent.count = count;
    intent.files = std::move(planned);
    Status s = WriteFlushedFile(*fs, Path(kIntentName), detail::EncodeIntent(intent));
    if (s.ok() && !intentDirSynced)
        s = fs->SyncDir(dir);
    if (!s.ok())
        return s;
    intentDirSynced = true;
    files->next = first;
    files->end = first + count;
    fileFloor = files->end;
    return Status();
}

void Store::Impl::ClearTheWay(uint64_t first, uint64_t count) {
    const Evidence ev = MakeEvidence(Suspected());
    for (uint64_t no = first; no < first + count;) {
        const uint64_t shardEnd = std::min(first + count, (no | 0xff) + 1);
        if (shardEnd - no < 16) {
            for (; no < shardEnd; ++no) {
                if (fs->Exists(MessagePath(no)))
                    Dispose({no, false}, ev);
            }
            continue;
        }
        std::vector<std::string> names;
        fs->ListDir(dir + "/" + detail::MessageShardPath(no), &names);
        for (const std::string& name : names) {
            uint64_t found = 0;
            if (detail::ParseMessageFileName(name, &found) && found >= no && found < shardEnd)
                Dispose({found, false}, ev);
        }
        no = shardEnd;
    }
}

Status Store::Impl::WriteBatchFile(std::string_view bytes, NewFiles* files, uint64_t* fileNo) {
    if (files->next >= files->end)
        return Status(ErrorCode::InvalidArgument, "internal error: more files than intended");
    const uint64_t no = files->next;
    std::unique_ptr<File> f;
    for (int attempt = 0;; ++attempt) {
        bool missing = false;
        Status s = fs->Open(MessagePath(no), OpenMode::CreateNew, &f, &missing);
        if (!s.ok() && missing) {
            s = MakeShardDir(*fs, dir, no); // the first file of its sub-directory
            if (s.ok())
                s = fs->Open(MessagePath(no), OpenMode::CreateNew, &f);
        }
        if (s.code() == ErrorCode::AlreadyExists && attempt == 0) {
            // Came since the way was cleared: not ours, so kept aside.
            Dispose({no, false}, Evidence{});
            continue;
        }
        if (!s.ok())
            return s;
        break;
    }
    files->next = no + 1;
    *fileNo = no;
    files->written.push_back(no); // a later failure removes it too
    Status s = f->WriteAt(0, bytes.data(), bytes.size());
    if (!s.ok())
        return s;
    files->unflushed.push_back(std::move(f));
    // Bounded, so a large batch never runs out of file handles; higher
    // where flushes run on threads, started anew for each group.
    const size_t bound = fs->FilesInParallel() ? 256 : 64;
    return files->unflushed.size() >= bound ? FlushFiles(&files->unflushed) : Status();
}

void Store::Impl::Abandon(NewFiles* files) {
    files->unflushed.clear();
    const size_t before = suspects.size();
    RemoveFiles(files->written);
    if (suspects.size() == before)
        ClearIntent();
}

void Store::Impl::ClearIntent() {
    std::unique_ptr<File> f;
    if (fs->Open(Path(kIntentName), OpenMode::ReadWrite, &f).ok())
        f->Truncate(0);
}

void Store::Impl::ResolveIntent() {
    std::string bytes;
    bool missing = false;
    if (!ReadWhole(*fs, Path(kIntentName), &bytes, &missing).ok() || bytes.empty())
        return;
    detail::Intent intent;
    if (detail::DecodeIntent(bytes, &intent) &&
        IntentHolds(intent, generation, journalStale, journalEnd, state)) {
        LeftoverJudge judge(*fs, dir, intent, state);
        // An intent without contents names nothing: its files, past the
        // counter, are set aside like any other there.
        for (uint64_t no = intent.first; no - intent.first < intent.files.size(); ++no) {
            const FoundFile f{no, false};
            if (no < state.nextFileNo || !fs->Exists(f.Path(dir)))
                continue;
            if (judge.Judge(f, nullptr) != Fate::Remove || !fs->Remove(f.Path(dir)).ok())
                Dispose(f, Evidence{}); // sets it aside, or keeps its number from being given
        }
    }
    ClearIntent();
}

Status Store::Impl::CommitNewMessages(Op op, NewFiles* files, std::vector<MessageId>* newIds) {
    Status s = FlushFiles(&files->unflushed);
    std::string synced;
    for (uint64_t no : files->written) {
        const std::string shard = dir + "/" + detail::MessageShardPath(no);
        if (s.ok() && shard != synced)
            s = fs->SyncDir(shard);
        synced = shard;
    }
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
    ClearIntent();
    if (newIds)
        *newIds = std::move(ids);
    return Status();
}

void Store::Impl::DropSuspects() {
    const std::unordered_set<uint64_t> used = FilesInUse(state);
    std::vector<uint64_t> again;
    for (uint64_t no : suspects) {
        if (used.count(no) == 0 && !RemoveMessageFile(*fs, dir, no).ok())
            again.push_back(no);
    }
    suspects.swap(again);
}

void Store::Impl::RemoveFiles(const std::vector<uint64_t>& files) {
    for (uint64_t no : files) {
        if (!RemoveMessageFile(*fs, dir, no).ok())
            suspects.push_back(no); // tried again at the next change
    }
}

void Store::Impl::LetGo(const std::vector<uint64_t>& freed) {
    if (opts.removeLetGoFilesLater) {
        for (uint64_t no : freed)
            letGo.push_back(LetGoOf(no, false));
        return;
    }
    std::vector<uint64_t> gone;
    for (uint64_t no : freed) {
        if (RemoveMessageFile(*fs, dir, no).ok())
            gone.push_back(no);
        else
            suspects.push_back(no); // tried again at the next change
    }
    ForgetGone(std::move(gone));
}

LetGoFile Store::Impl::LetGoOf(uint64_t no, bool prove) const {
    LetGoFile f;
    f.no = no;
    f.prove = prove;
    if (const FreedFile* rec = state.Freed(no)) {
        f.size = rec->size;
        f.checksum = rec->checksum;
    }
    return f;
}

void Store::Impl::ForgetGone(std::vector<uint64_t> files) {
    if (files.empty() || journalStale)
        return;
    Op op;
    op.type = OpType::ForgetFiles;
    op.files = std::move(files);
    CommitOps({std::move(op)});
}

void Store::Impl::LetGoAtOpen() {
    if (journalStale || state.FreedFiles().empty())
        return;
    std::vector<uint64_t> waiting;
    for (const auto& entry : state.FreedFiles())
        waiting.push_back(entry.first);
    std::sort(waiting.begin(), waiting.end());
    const Evidence ev = MakeEvidence({});
    std::vector<uint64_t> gone;
    for (uint64_t no : waiting) {
        const FoundFile shard{no, false}, flat{no, true};
        const bool inShard = fs->Exists(shard.Path(dir));
        if (!inShard && !fs->Exists(flat.Path(dir))) {
            gone.push_back(no);
        } else if (opts.removeLetGoFilesLater) {
            letGo.push_back(LetGoOf(no, true));
        } else {
            const FoundFile& f = inShard ? shard : flat;
            Dispose(f, ev); // removed only while it holds what was deleted, else set aside
            if (!fs->Exists(f.Path(dir)))
                gone.push_back(no);
        }
    }
    ForgetGone(std::move(gone));
}

Status Store::Impl::Commit(Transaction tx, bool* undone) {
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
    if (!freed.empty())
        LetGo(freed);
    if (journalEnd > opts.compactJournalBytes)
        CompactLocked(); // the change is durable either way
    return Status();
}

Status Store::Impl::CommitOps(std::vector<Op> ops) {
    Transaction tx;
    tx.ops = std::move(ops);
    bool undone = false;
    return Commit(std::move(tx), &undone);
}

Status Store::Impl::CompactLocked() {
    std::vector<FoundFile> present;
    const bool listed = ListMessageFiles(*fs, dir, &present).ok();
    if (listed)
        SweepOrphans(present);
    bool snapshotIn = false;
    Status s = WriteGeneration(*fs, dir, state, generation + 1, &snapshotIn);
    if (snapshotIn) {
        ++generation;
        journalStale = true;
        state.ForgetFreed();
    }
    if (!s.ok())
        return s;
    journalStale = false;
    journalEnd = detail::kJournalHeaderSize;
    return listed ? MoveIntoShards(present) : Status();
}

Status Store::Impl::MoveIntoShards(const std::vector<FoundFile>& present) {
    const std::unordered_set<uint64_t> used = FilesInUse(state);
    std::vector<std::string> touched;
    Status s;
    for (size_t i = 0; i < present.size() && s.ok(); ++i) {
        const FoundFile& f = present[i];
        if (!f.flat || used.count(f.no) == 0)
            continue; // already in place, or swept
        if (i > 0 && present[i - 1].no == f.no) {
            // Its number already has a file in place: this one no record names.
            Dispose(f, MakeEvidence({}));
            continue;
        }
        const std::string shard = dir + "/" + detail::MessageShardPath(f.no);
        if (touched.empty() || touched.back() != shard) {
            s = MakeShardDir(*fs, dir, f.no);
            touched.push_back(shard);
        }
        if (s.ok())
            s = fs->Rename(f.Path(dir), MessagePath(f.no));
    }
    // The new names durable before the old ones are gone.
    for (const std::string& shard : touched) {
        if (s.ok())
            s = fs->SyncDir(shard);
    }
    if (s.ok() && !touched.empty())
        s = fs->SyncDir(dir + "/" + kMessagesDir);
    return s;
}

std::unordered_set<uint64_t> Store::Impl::Suspected() const {
    return std::unordered_set<uint64_t>(suspects.begin(), suspects.end());
}

Evidence Store::Impl::MakeEvidence(std::unordered_set<uint64_t> ours) const {
    Evidence ev;
    ev.ours = std::move(ours);
    ev.state = &state;
    return ev;
}

void Store::Impl::Dispose(const FoundFile& file, const Evidence& ev) {
    std::string where;
    Status s = Decide(*fs, dir, file, ev) == Fate::Remove
                   ? fs->Remove(file.Path(dir))
                   : SetAsideFile(*fs, dir, file, generation, journalEnd, &where);
    if (s.ok()) {
        if (!where.empty())
            setAside.push_back(where);
        return;
    }
    // Still there: its number is not given out.
    if (file.no < detail::kFileNoLimit)
        fileFloor = std::max(fileFloor, file.no + 1);
}

void Store::Impl::SweepOrphans(const std::vector<FoundFile>& present) {
    const std::unordered_set<uint64_t> used = FilesInUse(state);
    const Evidence ev = MakeEvidence(Suspected());
    for (const FoundFile& f : present) {
        if (used.count(f.no) == 0)
            Dispose(f, ev);
    }
}

void Store::Impl::TidyAtOpen() {
    ResolveIntent();
    LetGoAtOpen();
    // One probe in the usual case; a file at the counter means there may be more.
    if (!MessageFileExists(*fs, dir, state.nextFileNo))
        return;
    const Evidence ev = MakeEvidence({});
    std::vector<FoundFile> present;
    ListMessageFiles(*fs, dir, &present);
    for (const FoundFile& f : present) {
        if (f.no >= state.nextFileNo)
            Dispose(f, ev);
    }
}

Status Store::Impl::NeedFolder(FolderId id, const FolderRec** out) const {
    *out = state.Folder(id);
    return *out ? Status() : UnknownFolder(id);
}

Status Store::Impl::NeedMessage(FolderId folder, MessageId id, const MessageRec** out) const {
    *out = nullptr;
    const FolderRec* f;
    Status s = NeedFolder(folder, &f);
    if (!s.ok())
        return s;
    *out = f->Find(id);
    return *out ? Status() : UnknownMessage(folder, id);
}

Status Store::Impl::NeedMessages(const FolderRec& f, const std::vector<MessageId>& ids) const {
    for (MessageId id : ids) {
        if (f.Find(id) == nullptr)
            return UnknownMessage(f.id, id);
    }
    return Status();
}

} // namespace mailstore
