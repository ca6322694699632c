#include "Store.h"

#include "Charsets.h"
#include "Codec.h"
#include "Journal.h"
#include "MessageParser.h"
#include "State.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
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
constexpr const char* kIntentName = "intent.bin";
constexpr const char* kSetAsideDir = "set-aside";
using detail::kMessagesDir;
constexpr uint64_t kMaxMessageSize = 0xFFFFFFFFull;

bool IsDirectory(FileSystem& fs, const std::string& path) {
    std::vector<std::string> names;
    return fs.ListDir(path, &names).ok();
}

// What a read of one of the store's own files failed with, told plainly when
// a directory took its name.
Status StoreFileError(FileSystem& fs, const std::string& path, Status s) {
    if (IsDirectory(fs, path))
        return Status(ErrorCode::Corrupt, path + ": a directory where the store keeps a file; "
                                                 "mailstore recover moves it aside");
    return s;
}

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

// Writes state as snapshot generation gen and an empty journal that continues
// it. *snapshotIn tells whether the new snapshot is in place: from then on the
// old journal is stale, its records being in the snapshot.
Status WriteGeneration(FileSystem& fs, const std::string& dir, const State& state, uint64_t gen,
                       bool* snapshotIn) {
    *snapshotIn = false;
    std::string snap;
    state.EncodeSnapshot(gen, &snap);
    const std::string snapPath = dir + "/" + kSnapshotName;
    const std::string journalPath = dir + "/" + kJournalName;
    Status s = WriteFlushedFile(fs, snapPath + ".tmp", snap);
    if (s.ok())
        s = WriteFlushedFile(fs, journalPath + ".tmp", detail::EncodeJournalHeader(gen));
    if (s.ok())
        s = fs.Rename(snapPath + ".tmp", snapPath);
    if (s.ok())
        s = fs.SyncDir(dir);
    if (!s.ok())
        return s;
    *snapshotIn = true;
    s = fs.Rename(journalPath + ".tmp", journalPath);
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

std::string PathOfMessage(const std::string& dir, uint64_t fileNo) {
    return dir + "/" + detail::MessageFilePath(fileNo);
}

// A message file found on disk: in its sub-directory, or where stores kept
// every file before there were sub-directories.
struct FoundFile {
    uint64_t no = 0;
    bool flat = false;
    std::string Rel() const {
        return flat ? detail::FlatMessageFilePath(no) : detail::MessageFilePath(no);
    }
    std::string Path(const std::string& dir) const { return dir + "/" + Rel(); }
    bool operator<(const FoundFile& o) const { return no < o.no || (no == o.no && flat < o.flat); }
};

// The message files present, by number; other names, and files in a
// sub-directory their number does not go in, are left alone.
Status ListMessageFiles(FileSystem& fs, const std::string& dir, std::vector<FoundFile>* out) {
    out->clear();
    const std::string top = dir + "/" + kMessagesDir;
    std::vector<std::string> names, groups, files;
    Status s = fs.ListDir(top, &names);
    for (const std::string& name : names) {
        uint64_t no = 0;
        if (detail::ParseMessageFileName(name, &no)) {
            out->push_back({no, true});
            continue;
        }
        if (name.size() < 2 || !fs.ListDir(top + "/" + name, &groups).ok())
            continue;
        for (const std::string& group : groups) {
            const std::string sub = std::string(kMessagesDir) + "/" + name + "/" + group;
            if (!fs.ListDir(dir + "/" + sub, &files).ok())
                continue;
            for (const std::string& file : files) {
                if (detail::ParseMessageFileName(file, &no) && detail::MessageShardPath(no) == sub)
                    out->push_back({no, false});
            }
        }
    }
    std::sort(out->begin(), out->end());
    return s;
}

// Opens message file `no` wherever it is; *rel says where (from the store directory).
Status OpenMessageFile(FileSystem& fs, const std::string& dir, uint64_t no,
                       std::unique_ptr<File>* out, uint64_t* size, bool* missing,
                       std::string* rel) {
    *rel = detail::MessageFilePath(no);
    Status s = OpenToRead(fs, dir + "/" + *rel, out, size, missing);
    if (s.ok() || !*missing)
        return s;
    const std::string flat = detail::FlatMessageFilePath(no);
    s = OpenToRead(fs, dir + "/" + flat, out, size, missing);
    if (!*missing)
        *rel = flat;
    return s;
}

// ReadWhole of message file `no`, wherever it is.
Status ReadMessageFile(FileSystem& fs, const std::string& dir, uint64_t no, std::string* out,
                       bool* missing, std::string* rel) {
    std::unique_ptr<File> f;
    uint64_t size = 0;
    Status s = OpenMessageFile(fs, dir, no, &f, &size, missing, rel);
    if (!s.ok())
        return s;
    out->resize(static_cast<size_t>(size));
    size_t got = 0;
    s = f->ReadAt(0, out->data(), out->size(), &got);
    out->resize(got);
    return s;
}

bool MessageFileExists(FileSystem& fs, const std::string& dir, uint64_t no) {
    return fs.Exists(PathOfMessage(dir, no)) ||
           fs.Exists(dir + "/" + detail::FlatMessageFilePath(no));
}

Status RemoveMessageFile(FileSystem& fs, const std::string& dir, uint64_t no) {
    Status s = fs.Remove(PathOfMessage(dir, no));
    Status flat = fs.Remove(dir + "/" + detail::FlatMessageFilePath(no));
    return s.ok() ? flat : s;
}

// Makes the sub-directory of file `no` exist durably.
Status MakeShardDir(FileSystem& fs, const std::string& dir, uint64_t no) {
    const std::string parent = dir + "/" + detail::MessageShardParent(no);
    Status s = fs.CreateDir(dir + "/" + kMessagesDir);
    if (s.ok())
        s = fs.CreateDir(parent);
    if (s.ok())
        s = fs.CreateDir(dir + "/" + detail::MessageShardPath(no));
    if (s.ok())
        s = fs.SyncDir(dir + "/" + kMessagesDir);
    if (s.ok())
        s = fs.SyncDir(parent);
    return s;
}

// What the store knows about message files no record accounts for.
struct Evidence {
    std::unordered_set<uint64_t> ours; // this process wrote them for a change that is not in
    const State* state = nullptr;      // its deletes since the snapshot say what they let go
};

enum class Fate { Remove, SetAside };

// Whether the file holds what a committed delete of its number let go (a crash
// came between the delete and the removal), not another file copied there since.
bool IsWhatDeleteLetGo(FileSystem& fs, const std::string& dir, const FoundFile& file,
                       const detail::FreedFile& freed) {
    std::string bytes;
    bool missing = false;
    if (!ReadWhole(fs, file.Path(dir), &bytes, &missing).ok() || bytes.size() != freed.size)
        return false;
    return freed.checksum == 0 || detail::Checksum64(bytes.data(), bytes.size()) == freed.checksum;
}

// The one rule for a message file no record accounts for, proven by the store's
// own records, never by file times or the clock: it is removed only when this
// process wrote it for a change that did not commit, or when it holds exactly
// what a committed delete let go. (A batch a crash cut short is proven by its
// intent, see ResolveIntent.) Anything else is kept, set aside.
Fate Decide(FileSystem& fs, const std::string& dir, const FoundFile& file, const Evidence& ev) {
    if (!file.flat && ev.ours.count(file.no) != 0)
        return Fate::Remove;
    const detail::FreedFile* freed = ev.state ? ev.state->Freed(file.no) : nullptr;
    if (freed != nullptr && IsWhatDeleteLetGo(fs, dir, file, *freed))
        return Fate::Remove;
    return Fate::SetAside;
}

std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Moves a message file into the set-aside folder under a name no other file
// there ever had: its own number, then the store's position (generation and
// journal end, which only grow), then a count. *where is the new path from the
// store directory.
Status SetAsideFile(FileSystem& fs, const std::string& dir, const FoundFile& file,
                    uint64_t generation, uint64_t journalEnd, std::string* where) {
    const std::string aside = dir + "/" + kSetAsideDir;
    Status s = fs.CreateDir(aside);
    if (!s.ok())
        return s;
    const std::string stem = detail::MessageFileName(file.no).substr(0, 16) + "-" +
                             Hex(generation) + "-" + Hex(journalEnd);
    std::string name = stem + ".eml";
    for (int n = 2; fs.Exists(aside + "/" + name); ++n)
        name = stem + "-" + std::to_string(n) + ".eml";
    const std::string from = file.Path(dir);
    s = fs.Rename(from, aside + "/" + name);
    if (s.ok())
        s = fs.SyncDir(aside);
    if (s.ok())
        s = fs.SyncDir(from.substr(0, from.rfind('/')));
    *where = std::string(kSetAsideDir) + "/" + name;
    return s;
}

// The message number a set-aside file had; false for names the store did not give.
bool ParseSetAsideName(const std::string& name, uint64_t* no) {
    return name.size() > 21 && name[16] == '-' && name.compare(name.size() - 4, 4, ".eml") == 0 &&
           detail::ParseMessageFileName(name.substr(0, 16) + ".eml", no);
}

// Names of the store's own files; a directory holding any of them is a store,
// whole or damaged.
const char* const kStoreNames[] = {"snapshot.bin",     "journal.bin",    "lock",
                                   "messages",         "set-aside",      "intent.bin",
                                   "snapshot.bin.tmp", "journal.bin.tmp"};

struct Survey {
    bool storeFiles = false;   // any of kStoreNames
    bool otherFiles = false;   // anything else
    bool messageFiles = false; // anything in messages/ or set-aside/
    std::string description;   // what is there, for a person
};

Survey SurveyDir(FileSystem& fs, const std::string& dir) {
    Survey v;
    std::vector<std::string> names;
    if (!fs.ListDir(dir, &names).ok())
        return v;
    for (const std::string& name : names) {
        bool ours = std::find(std::begin(kStoreNames), std::end(kStoreNames), name) !=
                    std::end(kStoreNames);
        (ours ? v.storeFiles : v.otherFiles) = true;
        if (!ours)
            continue;
        std::vector<std::string> inner;
        std::vector<FoundFile> found;
        std::string what = name;
        bool listed = false;
        if (name == kMessagesDir) {
            listed = ListMessageFiles(fs, dir, &found).ok();
            inner.resize(found.size());
        } else if (name == kSetAsideDir) {
            listed = fs.ListDir(dir + "/" + name, &inner).ok();
        }
        if (listed) {
            what += "/ (" + std::to_string(inner.size()) + " files)";
            v.messageFiles = v.messageFiles || !inner.empty();
        }
        v.description += (v.description.empty() ? "" : ", ") + what;
    }
    return v;
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

Status ValidateFolderName(std::string_view name) {
    return ValidateName(name);
}

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

Status Unreadable(const std::string& journalPath, const detail::ScannedRecord& r) {
    return Status(ErrorCode::Corrupt,
                  journalPath + ": unreadable record at offset " + std::to_string(r.offset));
}

bool DeletesOnly(const Transaction& tx) {
    return tx.ops.size() == 1 && tx.ops[0].type == OpType::DeleteMessages;
}

// Extends a deletion from one folder by the records from `from` on that delete
// from that folder and nothing else, in sequence; returns the end of that run.
size_t DeleteRun(const std::vector<detail::ScannedRecord>& records, size_t from, uint64_t seq,
                 Op* merged) {
    size_t end = from;
    for (Transaction tx; end < records.size(); ++end, ++seq) {
        if (!detail::DecodeTransaction(records[end].payload, &tx) || tx.seq != seq + 1 ||
            !DeletesOnly(tx) || tx.ops[0].folder != merged->folder)
            break;
        merged->ids.insert(merged->ids.end(), tx.ops[0].ids.begin(), tx.ops[0].ids.end());
    }
    return end;
}

// Applies journal records (file bytes from offset base on) to state. Without
// events, a run of deletions from one folder (another writer deleting in
// batches) is applied at once: one pass over the folder, not one per record.
Status ReplayRecords(std::string_view data, uint64_t base, const std::string& journalPath,
                     State* state, std::vector<ChangeEvent>* events, std::vector<uint64_t>* freed,
                     detail::ScanResult* scan) {
    *scan = detail::ScanRecords(data, base);
    if (scan->damaged)
        return Status(ErrorCode::Corrupt, journalPath + ": damaged record at offset " +
                                              std::to_string(scan->damageOffset));
    const std::vector<detail::ScannedRecord>& records = scan->records;
    size_t singly = 0; // records before this are replayed one by one
    for (size_t i = 0; i < records.size(); ++i) {
        Transaction tx;
        if (!detail::DecodeTransaction(records[i].payload, &tx))
            return Unreadable(journalPath, records[i]);
        if (!events && i >= singly && DeletesOnly(tx) && tx.seq == state->lastSeq + 1) {
            Op merged = tx.ops[0];
            const size_t end = DeleteRun(records, i + 1, tx.seq, &merged);
            if (end > i + 1 && state->Apply(merged, nullptr, freed).ok()) {
                state->lastSeq += end - i;
                i = end - 1;
                continue;
            }
            // It does not fit (and changed nothing): record by record, so
            // the damage is named where it is.
            singly = end;
        }
        Status s = state->Apply(tx, events, freed);
        if (!s.ok())
            return Status(ErrorCode::Corrupt, journalPath + ": record at offset " +
                                                  std::to_string(records[i].offset) +
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
        return StoreFileError(fs, snapPath, s);
    }
    s = State::DecodeSnapshot(std::move(snap), snapSize, snapPath, &out->generation, &out->state);
    if (!s.ok())
        return s;
    if (diffBase != nullptr)
        State::Diff(*diffBase, out->state, events);
    std::string journal;
    s = ReadWhole(fs, journalPath, &journal, &missing);
    if (!s.ok()) {
        // Made before the snapshot and only ever replaced whole: never missing by itself.
        if (missing)
            return Status(ErrorCode::Corrupt,
                          journalPath + ": missing at offset 0; the changes since the snapshot "
                                        "are gone with it");
        return StoreFileError(fs, journalPath, s);
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

// ---- Creating ------------------------------------------------------------------------

namespace {

// Whether a directory without a snapshot holds only what a creation cut short
// leaves: no message files and a journal (if any) that never got a record.
bool UnfinishedCreation(FileSystem& fs, const std::string& dir, const Survey& v) {
    if (v.messageFiles)
        return false;
    std::string journal;
    bool missing = false;
    if (!ReadWhole(fs, dir + "/" + kJournalName, &journal, &missing).ok())
        return missing;
    uint64_t gen = 0;
    return journal.size() == detail::kJournalHeaderSize &&
           detail::DecodeJournalHeader(journal, &gen) && gen == 1;
}

Status DamagedStore(const std::string& dir, const Survey& v) {
    return Status(ErrorCode::Corrupt, dir +
                                          " is a damaged store: snapshot.bin is missing, but it "
                                          "holds " +
                                          v.description +
                                          "; nothing was changed (mailstore check tells more)");
}

// Open of a directory without a snapshot.
Status NoSnapshot(FileSystem& fs, const std::string& dir) {
    const Survey v = SurveyDir(fs, dir);
    if (v.storeFiles && !UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    return Status(ErrorCode::NotAStore, dir + " holds no mail store");
}

// A new store, only in a missing or empty directory (or over a creation cut short).
Status CreateStore(FileSystem& fs, const std::string& dir, unsigned lockTimeoutMs) {
    Survey v = SurveyDir(fs, dir);
    if (v.storeFiles && !UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    if (v.otherFiles)
        return Status(ErrorCode::InvalidArgument,
                      dir + " is not empty: a new store is only made in an empty or new directory");
    Status s = fs.CreateDir(dir);
    if (s.ok())
        s = fs.CreateDir(dir + "/" + kMessagesDir);
    std::unique_ptr<FileLock> lock;
    if (s.ok())
        s = fs.Lock(dir + "/" + kLockName, lockTimeoutMs, &lock);
    if (!s.ok() || fs.Exists(dir + "/" + kSnapshotName))
        return s; // made by another process meanwhile
    v = SurveyDir(fs, dir);
    if (!UnfinishedCreation(fs, dir, v))
        return DamagedStore(dir, v);
    // Journal first: a snapshot is what marks the directory as a store.
    std::string snap;
    State::Initial().EncodeSnapshot(1, &snap);
    s = ReplaceFile(fs, dir, kJournalName, detail::EncodeJournalHeader(1));
    if (s.ok())
        s = ReplaceFile(fs, dir, kSnapshotName, snap);
    return s;
}

} // namespace

// ---- Impl ----------------------------------------------------------------------------

namespace {
// Whether an intent still proves its batch uncommitted: the journal ends where
// it did when the intent was made, after the same last change.
bool IntentHolds(const detail::Intent& in, uint64_t generation, bool journalStale,
                 uint64_t journalEnd, const State& state) {
    return !journalStale && in.generation == generation && in.journalEnd == journalEnd &&
           in.lastSeq == state.lastSeq && in.first >= state.nextFileNo &&
           in.first <= detail::kFileNoLimit && in.count <= detail::kFileNoLimit - in.first;
}
} // namespace

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
    bool intentDirSynced = false; // intent.bin's name is durable
    std::vector<uint64_t> letGo;  // to remove later (OpenOptions::removeLetGoFilesLater)
    std::vector<ChangeEvent> events;
    Status broken; // set when memory and disk can no longer be trusted to agree

    std::string Path(const char* name) const { return dir + "/" + name; }
    std::vector<std::string> setAside; // what this object moved aside
    std::string MessagePath(uint64_t fileNo) const { return PathOfMessage(dir, fileNo); }

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

    Status Lock(std::unique_ptr<FileLock>* lock) { return Lock(lock, opts.lockTimeoutMs); }
    Status Lock(std::unique_ptr<FileLock>* lock, unsigned timeoutMs) {
        if (!broken.ok())
            return broken;
        return fs->Lock(Path(kLockName), timeoutMs, lock);
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
        if (s.ok())
            ResolveIntent();
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

    Status FlushFiles(std::vector<std::unique_ptr<File>>* files) {
        return FlushAndClose(*fs, files);
    }

    // Message files written for one change that is not committed yet.
    struct NewFiles {
        uint64_t next = 0, end = 0; // the numbers the intent names that are still to come
        std::vector<uint64_t> written;
        std::vector<std::unique_ptr<File>> unflushed;
    };

    // Takes `count` numbers for a batch: files already there under them are set
    // aside (whatever put them there, they are not this batch's), then the intent
    // is made durable, before any file of the batch exists.
    Status BeginBatch(uint64_t count, NewFiles* files) {
        const uint64_t first = NextFileNo();
        if (count > detail::kFileNoLimit - first)
            return Status(ErrorCode::TooLarge, "the store has no message file numbers left");
        ClearTheWay(first, count);
        detail::Intent intent;
        intent.generation = generation;
        intent.journalEnd = journalEnd;
        intent.lastSeq = state.lastSeq;
        intent.first = first;
        intent.count = count;
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

    // Sets aside what is under the numbers [first, first + count): one listing
    // per sub-directory for a large batch, else a lookup per number.
    void ClearTheWay(uint64_t first, uint64_t count) {
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

    // Writes the batch's next message file, under a name its intent holds. Its
    // flush is left to FlushFiles, so a batch's files reach the disk together: on
    // journalling file systems the first flush then carries most of the others'.
    Status WriteBatchFile(std::string_view bytes, NewFiles* files, uint64_t* fileNo) {
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

    void Abandon(NewFiles* files) {
        files->unflushed.clear();
        const size_t before = suspects.size();
        RemoveFiles(files->written);
        if (suspects.size() == before)
            ClearIntent();
    }

    // Empties intent.bin once the batch is committed or undone. Not flushed: a
    // crash before it reaches the disk leaves an intent whose journal has moved
    // on, which proves nothing.
    void ClearIntent() {
        std::unique_ptr<File> f;
        if (fs->Open(Path(kIntentName), OpenMode::ReadWrite, &f).ok())
            f->Truncate(0);
    }

    // A batch a writer began but never committed: while the journal ends where it
    // did then, after the same last change, files under its numbers that no
    // record names are what it left, and go. Any other intent proves nothing now.
    void ResolveIntent() {
        std::string bytes;
        bool missing = false;
        if (!ReadWhole(*fs, Path(kIntentName), &bytes, &missing).ok() || bytes.empty())
            return;
        detail::Intent intent;
        if (detail::DecodeIntent(bytes, &intent) &&
            IntentHolds(intent, generation, journalStale, journalEnd, state)) {
            for (uint64_t no = intent.first; no < intent.first + intent.count; ++no) {
                if (no >= state.nextFileNo)
                    fs->Remove(MessagePath(no));
            }
        }
        ClearIntent();
    }

    // Makes the batch's files durable, then commits op, which adds their messages.
    Status CommitNewMessages(Op op, NewFiles* files, std::vector<MessageId>* newIds) {
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

    // Files of a commit whose outcome was unknown: now that the journal has been
    // read again, those no message refers to are removed.
    void DropSuspects() {
        const std::unordered_set<uint64_t> used = FilesInUse(state);
        std::vector<uint64_t> again;
        for (uint64_t no : suspects) {
            if (used.count(no) == 0 && !RemoveMessageFile(*fs, dir, no).ok())
                again.push_back(no);
        }
        suspects.swap(again);
    }

    void RemoveFiles(const std::vector<uint64_t>& files) {
        for (uint64_t no : files) {
            if (!RemoveMessageFile(*fs, dir, no).ok())
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
        if (opts.removeLetGoFilesLater)
            letGo.insert(letGo.end(), freed.begin(), freed.end());
        else
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

    // Unaccounted files are swept while the journal still says which ones
    // committed deletes let go; files of the flat layout move to sub-directories
    // once the snapshot is in.
    Status CompactLocked() {
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

    // Each file of the flat layout goes to its sub-directory by one rename, so a
    // crash leaves it in one place or the other, and both are read.
    Status MoveIntoShards(const std::vector<FoundFile>& present) {
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

    // ---- Files no record accounts for (only under the writer lock) ----

    std::unordered_set<uint64_t> Suspected() const {
        return std::unordered_set<uint64_t>(suspects.begin(), suspects.end());
    }

    Evidence MakeEvidence(std::unordered_set<uint64_t> ours) const {
        Evidence ev;
        ev.ours = std::move(ours);
        ev.state = &state;
        return ev;
    }

    // Removes or sets aside one unaccounted file, as Decide says.
    void Dispose(const FoundFile& file, const Evidence& ev) {
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

    // At compaction: every message file the state does not name.
    void SweepOrphans(const std::vector<FoundFile>& present) {
        const std::unordered_set<uint64_t> used = FilesInUse(state);
        const Evidence ev = MakeEvidence(Suspected());
        for (const FoundFile& f : present) {
            if (used.count(f.no) == 0)
                Dispose(f, ev);
        }
    }

    // At open: a batch a crash cut short, then files past the counter (left by a
    // journal cut, or come from outside). Files committed deletes let go wait for
    // compaction: looking for each would cost a lookup per file.
    void TidyAtOpen() {
        ResolveIntent();
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
    if (!fs.Exists(snapPath)) {
        Status s =
            options.create ? CreateStore(fs, dir, options.lockTimeoutMs) : NoSnapshot(fs, dir);
        if (!s.ok())
            return s;
    }

    // Open under the lock when it can be had, so crash leftovers can be cleaned;
    // a store another process keeps busy still opens, just without that.
    std::unique_ptr<FileLock> lock;
    Status lockStatus = fs.Lock(impl->Path(kLockName), options.lockTimeoutMs, &lock);
    if (!lockStatus.ok() && lockStatus.code() != ErrorCode::Busy && !fs.Exists(snapPath))
        return NoSnapshot(fs, dir);
    Loaded loaded;
    Status s = LoadStore(fs, dir, &loaded);
    if (!s.ok())
        return s;
    impl->Adopt(std::move(loaded));
    if (lock)
        impl->TidyAtOpen();
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

Status Store::NextChild(FolderId parent, FolderId after, FolderId* out) const {
    const FolderRec* f;
    Status s = impl_->NeedFolder(parent, &f);
    if (!s.ok())
        return s;
    auto next = f->children.upper_bound(after);
    *out = next == f->children.end() ? 0 : *next;
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
    uint64_t size = 0;
    bool missing = false;
    std::string rel;
    s = OpenMessageFile(*impl_->fs, impl_->dir, m->fileNo, &file, &size, &missing, &rel);
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
        m.rec.checksum = detail::Checksum64(item.source.data(), item.source.size());
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
    s = impl_->BeginBatch(items.size(), &files);
    if (!s.ok())
        return s;
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
    s = impl_->BeginBatch(ids.size(), &files);
    if (!s.ok())
        return s;
    for (size_t i = 0; i < ids.size(); ++i) {
        const MessageRec& m = *src->Find(ids[i]);
        std::string bytes, rel;
        bool missing = false;
        s = ReadMessageFile(*impl_->fs, impl_->dir, m.fileNo, &bytes, &missing, &rel);
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

size_t Store::RemoveLetGoFiles(size_t atMost) {
    Impl& impl = *impl_;
    std::unique_ptr<FileLock> lock;
    if (impl.letGo.empty() || !impl.Lock(&lock, 0).ok())
        return impl.letGo.size();
    const size_t count = std::min(atMost, impl.letGo.size());
    const std::vector<uint64_t> now(impl.letGo.end() - static_cast<std::ptrdiff_t>(count),
                                    impl.letGo.end());
    impl.letGo.resize(impl.letGo.size() - count);
    impl.RemoveFiles(now);
    return impl.letGo.size();
}

// ---- Check -----------------------------------------------------------------------------

namespace {

std::string MessageWho(const MessageRec& m, FolderId folder) {
    return " (message " + std::to_string(m.id) + " in folder " + std::to_string(folder) + ")";
}

// Compares a message file with its record: empty when they agree, else what is wrong.
std::string CompareMessageFile(FileSystem& fs, const std::string& dir, const MessageRec& m,
                               FolderId folder) {
    std::string rel, bytes;
    bool missing = false;
    Status s = ReadMessageFile(fs, dir, m.fileNo, &bytes, &missing, &rel);
    if (!s.ok())
        return missing ? rel + ": missing" + MessageWho(m, folder) : s.message();
    if (bytes.size() < m.size)
        return rel + ": cut short at offset " + std::to_string(bytes.size()) +
               "; the record says " + std::to_string(m.size) + " bytes" + MessageWho(m, folder);
    if (bytes.size() > m.size)
        return rel + ": " + std::to_string(bytes.size() - m.size) + " bytes more from offset " +
               std::to_string(m.size) + ", where the record says it ends" + MessageWho(m, folder);
    if (m.checksum != 0 && detail::Checksum64(bytes.data(), bytes.size()) != m.checksum)
        return rel + ": changed in place between offsets 0 and " + std::to_string(bytes.size()) +
               ": its bytes no longer match the record's checksum" + MessageWho(m, folder);
    const ParsedHeaders h = ParseHeaders(bytes);
    if (h.subject != m.subject || h.to != m.to || h.from != m.from)
        return rel + ": the record's subject, sender or recipients are not what the file's " +
               "headers say" + MessageWho(m, folder);
    return "";
}

// Names of the message files in the set-aside folder, sorted; what else is in
// there (a directory someone put there) is the store's no more than any other
// folder of the user's, and goes into *others.
Status ListSetAside(FileSystem& fs, const std::string& dir, std::vector<std::string>* names,
                    std::vector<std::string>* others = nullptr) {
    names->clear();
    const std::string aside = dir + "/" + kSetAsideDir;
    if (!fs.Exists(aside))
        return Status();
    std::vector<std::string> all;
    Status s = fs.ListDir(aside, &all);
    if (!s.ok())
        return Status(ErrorCode::Corrupt, aside +
                                              ": not a readable folder, so nothing can be set "
                                              "aside: " +
                                              s.message());
    std::sort(all.begin(), all.end());
    for (std::string& name : all) {
        const bool file = !IsDirectory(fs, aside + "/" + name);
        if (file || others != nullptr)
            (file ? names : others)->push_back(std::move(name));
    }
    return Status();
}

// A directory that took intent.bin's name (loading names one in place of the
// snapshot or journal): no import or copy can begin.
void CheckStoreFiles(FileSystem& fs, const std::string& dir, CheckReport* report) {
    if (IsDirectory(fs, dir + "/" + kIntentName))
        report->problems.push_back(std::string(kIntentName) +
                                   ": a directory where the store keeps a file, so no import "
                                   "or copy can begin; mailstore recover moves it aside");
}

// A batch's intent that the store as loaded still proves uncommitted.
bool HoldingIntent(FileSystem& fs, const std::string& dir, const Loaded& l,
                   detail::Intent* intent) {
    std::string bytes;
    bool missing = false;
    return ReadWhole(fs, dir + "/" + kIntentName, &bytes, &missing).ok() &&
           detail::DecodeIntent(bytes, intent) &&
           IntentHolds(*intent, l.generation, l.journalStale, l.journalEnd, l.state);
}

// Every message file no record names, with what the store does with it: the
// next open or compaction removes it only where Decide (or an intent) proves
// it, and sets aside every other. Kept files past the counter mean the journal
// lost committed changes.
void CheckUnaccounted(FileSystem& fs, const std::string& dir, const Loaded& l,
                      const std::unordered_set<uint64_t>& used, CheckReport* report) {
    std::vector<FoundFile> present;
    ListMessageFiles(fs, dir, &present);
    detail::Intent intent;
    const bool holds = HoldingIntent(fs, dir, l, &intent);
    Evidence ev;
    ev.state = &l.state;
    // Open lists the files only when one sits at the counter; compaction always.
    const bool openLooks = MessageFileExists(fs, dir, l.state.nextFileNo);
    bool pastCounter = false;
    for (size_t i = 0; i < present.size(); ++i) {
        const FoundFile& f = present[i];
        // A file of the old layout beside one in place under its number: the
        // record is read from the other.
        const bool shadowed = f.flat && i > 0 && present[i - 1].no == f.no;
        if (used.count(f.no) != 0 && !shadowed)
            continue;
        ++report->orphanFiles;
        const std::string head = f.Rel() + ": no record names it";
        const bool atOpen = f.no >= l.state.nextFileNo;
        if (!f.flat && holds && f.no >= intent.first && f.no - intent.first < intent.count) {
            report->unaccounted.push_back(head +
                                          "; written for a change that was never committed "
                                          "(intent.bin says so), so the next open removes it");
        } else if (!shadowed && Decide(fs, dir, f, ev) == Fate::Remove) {
            report->unaccounted.push_back(head +
                                          "; it is what a committed delete let go, so the next "
                                          "compaction removes it");
        } else {
            report->problems.push_back(head + "; the next " +
                                       (atOpen && openLooks ? "open" : "compaction") +
                                       " sets it aside (mailstore recover brings it back)");
            pastCounter = pastCounter || atOpen;
        }
    }
    if (!pastCounter)
        return;
    const std::string at = std::to_string(l.journalEnd);
    report->problems.push_back(
        std::string(kJournalName) +
        (l.torn ? ": cut short inside the record at offset " + at
                : ": ends at offset " + at + " before the records") +
        " of message files numbered past what it gave out: committed changes are missing, or "
        "the files came from elsewhere");
}

} // namespace

Status Store::Check(const std::string& dir, FileSystem* fsIn, CheckReport* report) {
    FileSystem& fs = fsIn ? *fsIn : DefaultFileSystem();
    *report = CheckReport();
    Status aside = ListSetAside(fs, dir, &report->setAside);
    for (std::string& name : report->setAside)
        name = std::string(kSetAsideDir) + "/" + name;
    if (!aside.ok())
        report->problems.push_back(aside.message());
    CheckStoreFiles(fs, dir, report);
    if (!fs.Exists(dir + "/" + kSnapshotName)) {
        const Survey v = SurveyDir(fs, dir);
        if (!v.storeFiles || UnfinishedCreation(fs, dir, v))
            return Status(ErrorCode::NotAStore, dir + " holds no mail store");
        report->problems.push_back(std::string(kSnapshotName) +
                                   ": missing at offset 0; the directory holds " + v.description);
        report->ok = false;
        return Status();
    }
    Loaded l;
    Status s = LoadStore(fs, dir, &l);
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
    const std::unordered_set<uint64_t> used = FilesInUse(l.state);
    std::vector<std::pair<const MessageRec*, FolderId>> all;
    for (const auto& [id, f] : l.state.folders()) {
        if (id != kRootFolder)
            ++report->folders;
        for (const MessageRec& m : f.messages)
            all.emplace_back(&m, id);
    }
    report->messages = all.size();
    std::vector<std::string> why(all.size());
    RunInLanes(fs, all.size(), [&](size_t i) {
        why[i] = CompareMessageFile(fs, dir, *all[i].first, all[i].second);
    });
    for (std::string& w : why) {
        if (!w.empty())
            report->problems.push_back(std::move(w));
    }
    CheckUnaccounted(fs, dir, l, used, report);
    report->ok = report->problems.empty();
    return Status();
}

// ---- Recover ---------------------------------------------------------------------------

namespace {

// What recover starts from: as much of the committed state as the files hold.
struct Salvage {
    State state = State::Initial();
    uint64_t generation = 0;
    std::vector<uint64_t> freed;
};

void SalvageJournal(FileSystem& fs, const std::string& dir, bool snapshotOk, Salvage* sv,
                    RecoverReport* report) {
    std::string journal;
    bool missing = false;
    uint64_t jgen = 0;
    if (!ReadWhole(fs, dir + "/" + kJournalName, &journal, &missing).ok() ||
        !detail::DecodeJournalHeader(journal, &jgen)) {
        report->actions.push_back(std::string(kJournalName) +
                                  ": missing or unreadable; its changes are lost");
        return;
    }
    const uint64_t snapshotGeneration = sv->generation;
    const bool continues = snapshotOk ? jgen == snapshotGeneration : jgen == 1;
    sv->generation = std::max(snapshotGeneration, jgen);
    if (!continues) {
        // An older journal's records are all in the snapshot already.
        if (jgen > snapshotGeneration)
            report->actions.push_back(std::string(kJournalName) +
                                      ": continues a snapshot that is gone; its changes are lost");
        return;
    }
    const detail::ScanResult scan = detail::ScanRecords(
        std::string_view(journal).substr(detail::kJournalHeaderSize), detail::kJournalHeaderSize);
    uint64_t end = scan.validEnd;
    for (const detail::ScannedRecord& r : scan.records) {
        Transaction tx;
        if (!detail::DecodeTransaction(r.payload, &tx) ||
            !sv->state.Apply(tx, nullptr, &sv->freed).ok()) {
            end = r.offset;
            break;
        }
    }
    if (!snapshotOk)
        report->actions.push_back(std::string(kJournalName) +
                                  ": holds the store's whole history; its records are replayed");
    if (end < journal.size())
        report->actions.push_back(std::string(kJournalName) + ": records from offset " +
                                  std::to_string(end) + " on are unreadable and dropped");
}

Salvage SalvageState(FileSystem& fs, const std::string& dir, RecoverReport* report) {
    Salvage sv;
    std::unique_ptr<char[]> snap;
    size_t size = 0;
    bool missing = false;
    const std::string snapPath = dir + "/" + kSnapshotName;
    Status s = ReadWholeRaw(fs, snapPath, &snap, &size, &missing);
    if (s.ok())
        s = State::DecodeSnapshot(std::move(snap), size, snapPath, &sv.generation, &sv.state);
    if (!s.ok()) {
        sv.state = State::Initial();
        sv.generation = 0;
        report->actions.push_back(std::string(kSnapshotName) + ": " +
                                  (missing ? std::string("missing") : s.message()) +
                                  "; folders start again from a new store's");
    }
    SalvageJournal(fs, dir, s.ok(), &sv, report);
    return sv;
}

// Moves what took the name of one of the store's files or folders (a
// directory, a file where a folder belongs) to a name of its own beside it.
Status MoveAside(FileSystem& fs, const std::string& dir, const std::string& name,
                 const std::string& why, RecoverReport* report) {
    const std::string from = dir + "/" + name;
    std::string to = from + ".blocked";
    for (int n = 2; fs.Exists(to); ++n)
        to = from + ".blocked-" + std::to_string(n);
    Status s = fs.Rename(from, to);
    if (s.ok())
        s = fs.SyncDir(dir);
    if (s.ok())
        report->actions.push_back(name + ": " + why + "; renamed to " + to.substr(dir.size() + 1));
    return s;
}

// Directories where the store keeps its files go aside first, so the fresh
// snapshot and journal can be written.
Status MoveStoreFileBlockers(FileSystem& fs, const std::string& dir, RecoverReport* report) {
    for (const char* name : {kSnapshotName, kJournalName, kIntentName}) {
        Status s;
        if (IsDirectory(fs, dir + "/" + name))
            s = MoveAside(fs, dir, name, "a directory where the store keeps a file", report);
        if (!s.ok())
            return s;
    }
    return Status();
}

// What an open would do first: the files of a batch its intent proves never
// committed go, not into "Recovered".
void RemoveIntendedFiles(FileSystem& fs, const std::string& dir, RecoverReport* report) {
    Loaded l;
    detail::Intent intent;
    if (!LoadStore(fs, dir, &l).ok() || !HoldingIntent(fs, dir, l, &intent))
        return;
    for (uint64_t no = intent.first; no - intent.first < intent.count; ++no) {
        const std::string rel = detail::MessageFilePath(no);
        if (fs.Exists(dir + "/" + rel) && fs.Remove(dir + "/" + rel).ok())
            report->actions.push_back(rel + ": removed, written for a change that was never "
                                            "committed (intent.bin says so)");
    }
}

class Recovery {
  public:
    Recovery(FileSystem& fs, std::string dir, Salvage* sv, RecoverReport* report)
        : fs_(fs), dir_(std::move(dir)), sv_(*sv), report_(*report) {}

    Status Run() {
        Status s = fs_.CreateDir(dir_ + "/" + kMessagesDir);
        if (s.ok())
            s = ListMessageFiles(fs_, dir_, &present_);
        std::vector<std::string> aside, others;
        if (s.ok() && !ListSetAside(fs_, dir_, &aside, &others).ok())
            s = MoveAside(fs_, dir_, kSetAsideDir, "not a readable folder", &report_);
        if (!s.ok())
            return s;
        for (const std::string& name : aside) {
            uint64_t no = 0;
            aside_.emplace(ParseSetAsideName(name, &no) ? no : UINT64_MAX, name);
        }
        for (const std::string& name : others)
            report_.actions.push_back(std::string(kSetAsideDir) + "/" + name +
                                      ": a directory, not a message file; left where it is");
        next_ = sv_.state.nextFileNo;
        CheckRecords();
        AdoptUnaccounted();
        for (const Op& op : ops_) {
            s = sv_.state.Apply(op, nullptr, nullptr);
            if (!s.ok())
                return Status(ErrorCode::Corrupt, "recover: " + s.message());
        }
        bool snapshotIn = false;
        s = WriteGeneration(fs_, dir_, sv_.state, sv_.generation + 1, &snapshotIn);
        if (s.ok())
            RemoveFreed();
        return s;
    }

  private:
    // Records whose file is gone get it back from the set-aside folder, or go;
    // files that changed, or whose texts the record has wrong, are recorded as
    // they now are.
    void CheckRecords() {
        for (const auto& [id, f] : sv_.state.folders()) {
            Op drop;
            drop.type = OpType::DeleteMessages;
            drop.folder = id;
            Op add = NewAdd(id);
            for (const MessageRec& m : f.messages) {
                used_.insert(m.fileNo);
                if (!MessageFileExists(fs_, dir_, m.fileNo))
                    BringBack(m);
                const std::string why = CompareMessageFile(fs_, dir_, m, id);
                if (why.empty())
                    continue;
                drop.ids.push_back(m.id);
                NewMessage n;
                std::string rel;
                if (!Describe(m.fileNo, &n, &rel)) {
                    report_.actions.push_back(why + "; its record is dropped");
                    MoveDirectoryAside(detail::MessageFilePath(m.fileNo));
                    MoveDirectoryAside(detail::FlatMessageFilePath(m.fileNo));
                    continue;
                }
                n.rec.state = m.state;
                n.rec.received = m.received;
                add.messages.push_back(std::move(n));
                report_.actions.push_back(why + "; recorded again as the file now is");
            }
            if (!drop.ids.empty())
                ops_.push_back(std::move(drop));
            Push(std::move(add));
        }
    }

    // Everything no record names, from messages/ and from the set-aside folder,
    // goes into "Recovered" under a fresh number: its own may be past the
    // counter's range, or one given before.
    void AdoptUnaccounted() {
        Evidence ev;
        ev.state = &sv_.state;
        Op add = NewAdd(kRootFolder); // its folder is made only when something comes
        for (size_t i = 0; i < present_.size(); ++i) {
            const FoundFile& f = present_[i];
            const bool shadowed = f.flat && i > 0 && present_[i - 1].no == f.no;
            if (used_.count(f.no) != 0 && !shadowed)
                continue;
            if (!shadowed && Decide(fs_, dir_, f, ev) == Fate::Remove) {
                freedLeft_.push_back(f);
                continue;
            }
            Adopt(f.Rel(), &add);
        }
        for (const auto& [orig, name] : aside_)
            Adopt(std::string(kSetAsideDir) + "/" + name, &add);
        if (add.messages.empty())
            return;
        report_.recovered += add.messages.size();
        add.folder = RecoveredFolder();
        Push(std::move(add));
    }

    // Reads the file at `from` (from the store directory) and moves it to the
    // next free number.
    void Adopt(const std::string& from, Op* add) {
        NewMessage n;
        std::string bytes;
        bool missing = false;
        if (!ReadWhole(fs_, dir_ + "/" + from, &bytes, &missing).ok() ||
            bytes.size() > kMaxMessageSize) {
            if (IsDirectory(fs_, dir_ + "/" + from))
                MoveDirectoryAside(from);
            else
                report_.actions.push_back(from + ": unreadable; left where it is");
            return;
        }
        while (next_ < detail::kFileNoLimit && MessageFileExists(fs_, dir_, next_))
            ++next_;
        if (next_ >= detail::kFileNoLimit || !MakeShardDir(fs_, dir_, next_).ok() ||
            !fs_.Rename(dir_ + "/" + from, PathOfMessage(dir_, next_)).ok()) {
            report_.actions.push_back(from + ": could not be given a new number; left where it is");
            return;
        }
        Describe(bytes, next_, &n);
        add->messages.push_back(std::move(n));
        report_.actions.push_back(from + ": into \"Recovered\", as " +
                                  detail::MessageFilePath(next_++));
    }

    // Moves a record's file back from the set-aside folder: one set aside under
    // its number whose bytes are the record's.
    void BringBack(const MessageRec& m) {
        auto [it, end] = aside_.equal_range(m.fileNo);
        for (; it != end; ++it) {
            const std::string from = std::string(kSetAsideDir) + "/" + it->second;
            std::string bytes;
            bool missing = false;
            if (!ReadWhole(fs_, dir_ + "/" + from, &bytes, &missing).ok() ||
                bytes.size() != m.size ||
                (m.checksum != 0 && detail::Checksum64(bytes.data(), bytes.size()) != m.checksum))
                continue;
            if (MakeShardDir(fs_, dir_, m.fileNo).ok() &&
                fs_.Rename(dir_ + "/" + from, PathOfMessage(dir_, m.fileNo)).ok()) {
                report_.actions.push_back(from + ": back to its record, as " +
                                          detail::MessageFilePath(m.fileNo));
                ++report_.recovered;
                aside_.erase(it);
            }
            return;
        }
    }

    // A record for message file `no` as it now is.
    // A directory under a message file's name would stay unaccounted for.
    void MoveDirectoryAside(const std::string& rel) {
        if (IsDirectory(fs_, dir_ + "/" + rel))
            MoveAside(fs_, dir_, rel, "a directory where a message file belongs", &report_);
    }

    bool Describe(uint64_t no, NewMessage* n, std::string* rel) {
        std::string bytes;
        bool missing = false;
        if (!ReadMessageFile(fs_, dir_, no, &bytes, &missing, rel).ok() ||
            bytes.size() > kMaxMessageSize)
            return false;
        Describe(bytes, no, n);
        return true;
    }

    static void Describe(std::string_view bytes, uint64_t no, NewMessage* n) {
        ParsedHeaders h = ParseHeaders(bytes);
        n->rec.state = kStateUnread;
        n->rec.priority = h.priority;
        n->rec.size = static_cast<uint32_t>(bytes.size());
        n->rec.sent = h.sent;
        n->rec.received = h.received ? h.received : FileTimeNow();
        n->rec.fileNo = no;
        n->rec.checksum = detail::Checksum64(bytes.data(), bytes.size());
        n->subject = std::move(h.subject);
        n->to = std::move(h.to);
        n->from = std::move(h.from);
    }

    FolderId RecoveredFolder() {
        const FolderRec* f = sv_.state.ChildByName(kRootFolder, "Recovered");
        if (f != nullptr)
            return f->id;
        Op op;
        op.type = OpType::CreateFolder;
        op.folder = sv_.state.nextFolderId;
        op.parent = kRootFolder;
        op.name = "Recovered";
        ops_.push_back(op);
        return op.folder;
    }

    Op NewAdd(FolderId folder) {
        Op op;
        op.type = OpType::AddMessages;
        op.folder = folder;
        return op;
    }

    // Numbers the new records past every id so far and queues the op.
    void Push(Op add) {
        if (add.messages.empty())
            return;
        for (NewMessage& n : add.messages)
            n.rec.id = nextId_ == 0 ? (nextId_ = sv_.state.nextMessageId) : ++nextId_;
        ops_.push_back(std::move(add));
    }

    // Files that hold what a committed delete let go go once the new snapshot is in.
    void RemoveFreed() {
        for (const FoundFile& f : freedLeft_) {
            if (fs_.Remove(f.Path(dir_)).ok())
                report_.actions.push_back(f.Rel() + ": removed, as a committed delete said");
        }
    }

    FileSystem& fs_;
    std::string dir_;
    Salvage& sv_;
    RecoverReport& report_;
    std::vector<FoundFile> present_;
    // Set-aside names by the number the file had (UINT64_MAX: a name not ours).
    std::multimap<uint64_t, std::string> aside_;
    std::unordered_set<uint64_t> used_;
    std::vector<FoundFile> freedLeft_;
    std::vector<Op> ops_;
    MessageId nextId_ = 0;
    uint64_t next_ = 0; // the next number to try for an adopted file
};

} // namespace

Status Store::Recover(const std::string& dir, FileSystem* fsIn, RecoverReport* report) {
    FileSystem& fs = fsIn ? *fsIn : DefaultFileSystem();
    *report = RecoverReport();
    if (!SurveyDir(fs, dir).storeFiles)
        return Status(ErrorCode::NotAStore, dir + " holds no mail store");
    std::unique_ptr<FileLock> lock;
    Status s = fs.Lock(dir + "/" + kLockName, 10000, &lock);
    if (s.ok())
        s = MoveStoreFileBlockers(fs, dir, report);
    if (!s.ok())
        return s;
    RemoveIntendedFiles(fs, dir, report);
    Salvage sv = SalvageState(fs, dir, report);
    return Recovery(fs, dir, &sv, report).Run();
}

const std::vector<std::string>& Store::SetAsideFiles() const {
    return impl_->setAside;
}

} // namespace mailstore
