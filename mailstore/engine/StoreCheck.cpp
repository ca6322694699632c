#include "Store.h"

#include "Codec.h"
#include "LetGoRemover.h"
#include "MessageParser.h"
#include "RecordCodec.h"
#include "StoreWriter.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

namespace mailstore {

using namespace detail;

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
    LeftoverJudge judge(fs, dir, intent, l.state);
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
        if (!f.flat && holds && intent.For(f.no) != nullptr) {
            std::string why;
            judge.Judge(f, &why);
            report->unaccounted.push_back(head + why);
        } else if (!shadowed && Decide(fs, dir, f, ev) == Fate::Remove) {
            ++report->waitingRemoval;
        } else if (!fs.Exists(f.Path(dir))) {
            --report->orphanFiles; // removed while it was being read
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

// What lies among the message files not as the store names it: another
// case or sub-directory of a message file's name (recover renames it back), or
// a name the store never gives (never touched).
void CheckStrangers(FileSystem& fs, const std::string& dir, const State& state,
                    CheckReport* report) {
    std::vector<Stranger> strangers;
    ListStrangers(fs, dir, &strangers);
    std::unordered_map<uint64_t, std::string> owner;
    if (!strangers.empty()) {
        for (const auto& [id, f] : state.folders()) {
            for (const MessageRec& m : f.messages)
                owner[m.fileNo] = MessageWho(m, id);
        }
    }
    for (const Stranger& st : strangers) {
        if (!st.numbered) {
            report->notTheStores.push_back(st.rel +
                                           ": not the store's (a name it never gives); left "
                                           "untouched");
            continue;
        }
        const std::string name = detail::MessageFilePath(st.no);
        auto it = owner.find(st.no);
        if (it == owner.end() || NamedAsTheStoreNames(fs, dir, st.no)) {
            report->notTheStores.push_back(
                st.rel + ": not the store's (named like " + name + ", but " +
                (it == owner.end() ? "no record names that" : "that is there too") +
                "); left untouched");
            continue;
        }
        report->problems.push_back(st.rel + ": the file" + it->second +
                                   ", under another name than the store's (" + name +
                                   "); mailstore recover renames it back");
    }
}

} // namespace

namespace {

Status CheckOnce(FileSystem& fs, const std::string& dir, CheckReport* report) {
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
    CheckStrangers(fs, dir, l.state, report);
    report->ok = report->problems.empty();
    return Status();
}

// Where the journal is: it moves with every commit, and nothing in the
// message files changes for the store's own reasons without one coming first
// (or, for a remover, the file going).
std::string JournalPosition(FileSystem& fs, const std::string& dir) {
    std::unique_ptr<File> f;
    uint64_t size = 0;
    std::string head(detail::kJournalHeaderSize, '\0');
    size_t got = 0;
    if (!OpenToRead(fs, dir + "/" + kJournalName, &f, &size).ok() ||
        !f->ReadAt(0, head.data(), head.size(), &got).ok())
        return {};
    head.resize(got);
    return head + "@" + std::to_string(size);
}

} // namespace

// Reads without the lock, so writers go on meanwhile. A store written to
// while it was read can look damaged (a file removed after the listing, a
// batch not committed yet): whatever a read finds is looked at again under the
// lock before it is reported.
Status Store::Check(const std::string& dir, FileSystem* fsIn, CheckReport* report) {
    FileSystem& fs = fsIn ? *fsIn : DefaultFileSystem();
    const std::string before = JournalPosition(fs, dir);
    Status s = CheckOnce(fs, dir, report);
    if (!s.ok() || report->clean())
        return s;
    std::unique_ptr<FileLock> lock;
    const std::string lockPath = dir + "/" + kLockName;
    if (fs.Exists(lockPath) && !IsDirectory(fs, lockPath)) {
        const LockWaiter waiting;
        fs.Lock(lockPath, 10000, &lock); // else read again as it is
    }
    if (!lock && JournalPosition(fs, dir) == before)
        return s; // nothing committed meanwhile: the findings stand
    return CheckOnce(fs, dir, report);
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

// What an open would do first: files of a batch the journal does not hold whose
// bytes a committed message holds go, not into "Recovered"; the others are
// adopted there like any file no record names.
void RemoveIntendedFiles(FileSystem& fs, const std::string& dir, RecoverReport* report) {
    Loaded l;
    detail::Intent intent;
    if (!LoadStore(fs, dir, &l).ok() || !HoldingIntent(fs, dir, l, &intent))
        return;
    LeftoverJudge judge(fs, dir, intent, l.state);
    for (uint64_t no = intent.first; no - intent.first < intent.files.size(); ++no) {
        const FoundFile f{no, false};
        std::string why;
        if (no >= l.state.nextFileNo && fs.Exists(f.Path(dir)) &&
            judge.Judge(f, &why) == Fate::Remove && fs.Remove(f.Path(dir)).ok())
            report->actions.push_back(f.Rel() + ": removed, written for a batch the journal "
                                                "does not hold, and a committed message holds "
                                                "the same bytes");
    }
}

class Recovery {
  public:
    Recovery(FileSystem& fs, std::string dir, Salvage* sv, RecoverReport* report)
        : fs_(fs), dir_(std::move(dir)), sv_(*sv), report_(*report) {}

    Status Run() {
        Status s = fs_.CreateDir(dir_ + "/" + kMessagesDir);
        if (s.ok())
            RenameStrangers();
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
    // A record's file under its name in other letter case, or in another
    // sub-directory, goes back to the store's name for it when that is free, so
    // the record finds it.
    void RenameStrangers() {
        std::vector<Stranger> strangers;
        ListStrangers(fs_, dir_, &strangers);
        const std::unordered_set<uint64_t> used = FilesInUse(sv_.state);
        for (const Stranger& st : strangers) {
            if (!st.numbered || used.count(st.no) == 0 || NamedAsTheStoreNames(fs_, dir_, st.no))
                continue;
            const std::string to = detail::MessageFilePath(st.no);
            Status s = MakeShardDir(fs_, dir_, st.no);
            if (s.ok())
                s = fs_.Rename(dir_ + "/" + st.rel, dir_ + "/" + to);
            if (s.ok())
                s = fs_.SyncDir(dir_ + "/" + detail::MessageShardPath(st.no));
            if (s.ok())
                report_.actions.push_back(st.rel + ": renamed to " + to + ", the store's name");
            else
                Failed(st.rel + ": could not be renamed to " + to + ": " + s.message());
        }
    }

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
                if (!MessageFileExists(fs_, dir_, m.fileNo) && !BringBack(m))
                    continue; // its file is in set-aside/ still: the record stays
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
        Status s = ReadWhole(fs_, dir_ + "/" + from, &bytes, &missing);
        if (!s.ok() || bytes.size() > kMaxMessageSize) {
            if (IsDirectory(fs_, dir_ + "/" + from))
                MoveDirectoryAside(from);
            else
                Failed(from + ": unreadable (" + (s.ok() ? "too large" : s.message()) +
                       "); left where it is");
            return;
        }
        while (next_ < detail::kFileNoLimit && MessageFileExists(fs_, dir_, next_))
            ++next_;
        s = next_ < detail::kFileNoLimit
                ? MakeShardDir(fs_, dir_, next_)
                : Status(ErrorCode::TooLarge, "the store has no message file numbers left");
        if (s.ok())
            s = fs_.Rename(dir_ + "/" + from, PathOfMessage(dir_, next_));
        if (!s.ok()) {
            Failed(from + ": could not be given a new number: " + s.message() +
                   "; left where it is");
            return;
        }
        Describe(bytes, next_, &n);
        add->messages.push_back(std::move(n));
        report_.actions.push_back(from + ": into \"Recovered\", as " +
                                  detail::MessageFilePath(next_++));
    }

    // Moves a record's file back from the set-aside folder: one set aside under
    // its number whose bytes are the record's. False when one is there but
    // could not be moved.
    bool BringBack(const MessageRec& m) {
        auto [it, end] = aside_.equal_range(m.fileNo);
        for (; it != end; ++it) {
            const std::string from = std::string(kSetAsideDir) + "/" + it->second;
            std::string bytes;
            bool missing = false;
            if (!ReadWhole(fs_, dir_ + "/" + from, &bytes, &missing).ok() ||
                bytes.size() != m.size ||
                (m.checksum != 0 && detail::Checksum64(bytes.data(), bytes.size()) != m.checksum))
                continue;
            Status s = MakeShardDir(fs_, dir_, m.fileNo);
            if (s.ok())
                s = fs_.Rename(dir_ + "/" + from, PathOfMessage(dir_, m.fileNo));
            aside_.erase(it);
            if (!s.ok()) {
                Failed(from + ": its record's file, but it could not be moved back: " +
                       s.message() + "; both left as they are");
                return false;
            }
            report_.actions.push_back(from + ": back to its record, as " +
                                      detail::MessageFilePath(m.fileNo));
            ++report_.recovered;
            return true;
        }
        return true;
    }

    void Failed(const std::string& line) {
        report_.actions.push_back(line);
        ++report_.failed;
    }

    // A directory under a message file's name would stay unaccounted for.
    void MoveDirectoryAside(const std::string& rel) {
        if (IsDirectory(fs_, dir_ + "/" + rel))
            MoveAside(fs_, dir_, rel, "a directory where a message file belongs", &report_);
    }

    // A record for message file `no` as it now is.
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

} // namespace mailstore
