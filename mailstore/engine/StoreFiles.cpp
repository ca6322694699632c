#include "StoreFiles.h"

#include "Codec.h"
#include "Journal.h"

#include <algorithm>
#include <cstdio>

namespace mailstore::detail {

std::string MessageFilePath(uint64_t fileNo) {
    return MessageShardPath(fileNo) + "/" + MessageFileName(fileNo);
}

std::string MessageShardParent(uint64_t fileNo) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "/%02llx", static_cast<unsigned long long>(fileNo >> 16));
    return kMessagesDir + std::string(buf);
}

std::string MessageShardPath(uint64_t fileNo) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "/%02llx",
                  static_cast<unsigned long long>((fileNo >> 8) & 0xff));
    return MessageShardParent(fileNo) + buf;
}

std::string FlatMessageFilePath(uint64_t fileNo) {
    return std::string(kMessagesDir) + "/" + MessageFileName(fileNo);
}

std::string MessageFileName(uint64_t fileNo) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx.eml", static_cast<unsigned long long>(fileNo));
    return buf;
}

bool ParseMessageFileName(std::string_view name, uint64_t* fileNo) {
    if (name.size() != 20 || name.substr(16) != ".eml")
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < 16; ++i) {
        char c = name[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = (v << 4) | static_cast<uint64_t>(d);
    }
    *fileNo = v;
    return true;
}

bool ParseMessageFileNameAnyCase(std::string_view name, uint64_t* fileNo) {
    std::string lower(name);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return ParseMessageFileName(lower, fileNo);
}

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

std::unordered_set<uint64_t> FilesInUse(const State& state) {
    std::unordered_set<uint64_t> used;
    for (const auto& [id, f] : state.folders()) {
        for (const MessageRec& m : f.messages)
            used.insert(m.fileNo);
    }
    return used;
}

// The answer of a change that had no messages to add.

std::string PathOfMessage(const std::string& dir, uint64_t fileNo) {
    return dir + "/" + detail::MessageFilePath(fileNo);
}

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

namespace {
// Whether `name` is how the store names a directory of message files: hex
// digits in lower case, as many as MessageShardParent/MessageShardPath give.
bool IsShardName(const std::string& name, bool parent) {
    if (name.size() < 2 || name.size() > (parent ? 12u : 2u) || (name.size() > 2 && name[0] == '0'))
        return false;
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// A directory is never a message file, whatever its name.
void AddStranger(FileSystem& fs, const std::string& dir, const std::string& rel,
                 const std::string& name, std::vector<Stranger>* out) {
    Stranger st;
    st.rel = rel;
    st.numbered = ParseMessageFileNameAnyCase(name, &st.no) && !IsDirectory(fs, dir + "/" + rel);
    out->push_back(std::move(st));
}
} // namespace

void ListStrangers(FileSystem& fs, const std::string& dir, std::vector<Stranger>* out) {
    out->clear();
    std::vector<std::string> names, groups, files;
    fs.ListDir(dir + "/" + kMessagesDir, &names);
    for (const std::string& name : names) {
        const std::string top = std::string(kMessagesDir) + "/" + name;
        uint64_t no = 0;
        if (ParseMessageFileName(name, &no))
            continue;
        if (!fs.ListDir(dir + "/" + top, &groups).ok()) {
            AddStranger(fs, dir, top, name, out);
            continue;
        }
        if (!IsShardName(name, true)) {
            out->push_back({top + "/", false, 0});
            continue;
        }
        for (const std::string& group : groups) {
            const std::string sub = top + "/" + group;
            const bool isDir = fs.ListDir(dir + "/" + sub, &files).ok();
            if (!isDir || !IsShardName(group, false)) {
                if (isDir)
                    out->push_back({sub + "/", false, 0});
                else
                    AddStranger(fs, dir, sub, group, out);
                continue;
            }
            for (const std::string& file : files) {
                if (!ParseMessageFileName(file, &no) || MessageShardPath(no) != sub)
                    AddStranger(fs, dir, sub + "/" + file, file, out);
            }
        }
    }
}

bool NamedAsTheStoreNames(FileSystem& fs, const std::string& dir, uint64_t no) {
    const std::string name = MessageFileName(no);
    std::vector<std::string> names;
    for (const std::string& in : {MessageShardPath(no), std::string(kMessagesDir)}) {
        if (fs.ListDir(dir + "/" + in, &names).ok() &&
            std::find(names.begin(), names.end(), name) != names.end())
            return true;
    }
    return false;
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

namespace {
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
} // namespace

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

const MessageRec* LeftoverJudge::SameBytes(uint64_t size, uint64_t checksum, FolderId* folder) {
    if (!indexed_) {
        indexed_ = true;
        for (const auto& [id, f] : state_.folders()) {
            for (const MessageRec& m : f.messages) {
                if (m.checksum != 0)
                    byChecksum_.emplace(m.checksum, std::make_pair(&m, id));
            }
        }
    }
    auto [it, end] = byChecksum_.equal_range(checksum);
    for (; it != end; ++it) {
        const MessageRec& m = *it->second.first;
        std::string bytes, rel;
        bool missing = false;
        if (m.size == size && ReadMessageFile(fs_, dir_, m.fileNo, &bytes, &missing, &rel).ok() &&
            bytes.size() == size && Checksum64(bytes.data(), bytes.size()) == checksum) {
            *folder = it->second.second;
            return &m;
        }
    }
    return nullptr;
}

Fate LeftoverJudge::Judge(const FoundFile& file, std::string* why) {
    const IntentFile* meant = intent_.For(file.no);
    std::string bytes;
    bool missing = false;
    const bool read = !file.flat && meant != nullptr && meant->checksum != 0 &&
                      ReadWhole(fs_, file.Path(dir_), &bytes, &missing).ok();
    const bool batchBytes = read && bytes.size() == meant->size &&
                            Checksum64(bytes.data(), bytes.size()) == meant->checksum;
    FolderId folder = 0;
    const MessageRec* same =
        batchBytes ? SameBytes(meant->size, meant->checksum, &folder) : nullptr;
    if (why != nullptr) {
        const std::string aside =
            "; the next open sets it aside (mailstore recover brings it back)";
        if (same != nullptr)
            *why = "; written for a batch the journal does not hold, and message " +
                   std::to_string(same->id) + " in folder " + std::to_string(folder) +
                   " holds the same bytes, so the next open removes it";
        else if (batchBytes)
            *why = "; written for a batch the journal does not hold (intent.bin names it, with "
                   "these bytes): a change killed before it committed, or a backup of the journal "
                   "restored over a store that committed it" +
                   aside;
        else
            *why = "; under a number intent.bin gives a batch the journal does not hold, but not "
                   "the bytes that batch meant to write" +
                   aside;
    }
    return same != nullptr ? Fate::Remove : Fate::SetAside;
}

namespace {
std::string Hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
    return buf;
}
} // namespace

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

} // namespace mailstore::detail
