// Damage from outside (files deleted, cut, changed, restored from backups,
// merged in from another store) against a store of known content: nothing the
// damage left is ever deleted, check finds the damage wherever the files show
// it, recover brings every message back and the store takes changes again.
#include "Journal.h"
#include "MemFs.h"
#include "StoreModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <iostream>
#include <set>

namespace mailstore::testing {
namespace {

const std::string kDir = "/store";
const std::string kJournal = kDir + "/journal.bin";
const std::string kSnapshot = kDir + "/snapshot.bin";

using Bag = std::multiset<std::string>;

OpenOptions Options(FileSystem* fs, bool create = false) {
    OpenOptions o;
    o.fs = fs;
    o.create = create;
    o.clock = [] { return kFixedClock; };
    o.lockTimeoutMs = 0;
    o.compactJournalBytes = 1u << 30;
    return o;
}

void AddSources(Store& store, FolderId folder, Bag* out) {
    std::vector<MessageId> ids;
    if (folder != kRootFolder && store.GetMessageIds(folder, &ids).ok()) {
        for (MessageId id : ids) {
            std::unique_ptr<MessageReader> r;
            std::string bytes;
            if (store.OpenMessageSource(folder, id, &r).ok()) {
                bytes.resize(static_cast<size_t>(r->Size()));
                size_t got = 0;
                r->ReadAt(0, bytes.data(), bytes.size(), &got);
                bytes.resize(got);
            }
            out->insert(bytes);
        }
    }
    std::vector<FolderId> children;
    store.GetChildren(folder, &children);
    for (FolderId c : children)
        AddSources(store, c, out);
}

// The sources of every message the store shows.
Bag Sources(Store& store) {
    Bag out;
    AddSources(store, kRootFolder, &out);
    return out;
}

// The bytes of every message file and every file the store set aside; with
// deep, also what is in folders someone put into set-aside/ (not the store's).
Bag Files(MemFs& fs, bool deep = false) {
    Bag out;
    for (const std::string sub : {"/messages/", "/set-aside/"}) {
        for (const std::string& path : fs.FilesUnder(kDir + sub.substr(0, sub.size() - 1))) {
            if (deep || sub == "/messages/" ||
                path.find('/', kDir.size() + sub.size()) == std::string::npos)
                out.insert(*fs.Content(path));
        }
    }
    return out;
}

bool Includes(const Bag& big, const Bag& small) {
    return std::includes(big.begin(), big.end(), small.begin(), small.end());
}

// Damage made through the file system, as a tool or a person would.
void Cut(MemFs& fs, const std::string& path, uint64_t size) {
    std::unique_ptr<File> f;
    ASSERT_TRUE(fs.Open(path, OpenMode::ReadWrite, &f).ok()) << path;
    ASSERT_TRUE(f->Truncate(size).ok());
}

void Flip(MemFs& fs, const std::string& path, size_t at) {
    std::string* c = fs.Content(path);
    ASSERT_NE(c, nullptr) << path;
    ASSERT_LT(at, c->size());
    (*c)[at] ^= 0x10; // a disk's damage: the file's time stays
}

// Writes a file, making its folders, as a copy from outside would.
void Put(MemFs& fs, const std::string& path, const std::string& bytes) {
    for (size_t slash = kDir.size(); slash != std::string::npos; slash = path.find('/', slash + 1))
        fs.CreateDir(path.substr(0, slash));
    std::unique_ptr<File> f;
    ASSERT_TRUE(fs.Open(path, OpenMode::CreateAlways, &f).ok()) << path;
    ASSERT_TRUE(f->WriteAt(0, bytes.data(), bytes.size()).ok());
}

// Copies the files of `from` under `sub` into fs: over what is there, or
// (cp -n) only where nothing is.
void CopyIn(MemFs& fs, const MemFs& from, const std::string& sub, bool over) {
    auto src = from.Clone();
    for (const std::string& path : src->FilesUnder(kDir + sub)) {
        if (over || !fs.Exists(path))
            Put(fs, path, *src->Content(path));
    }
}

// A directory where the store keeps a file.
void DirectoryAt(MemFs& fs, const std::string& path) {
    fs.Remove(path);
    Put(fs, path + "/notes.txt", "someone's notes");
}

std::string FirstMessageFile(MemFs& fs) {
    const std::vector<std::string> paths = fs.FilesUnder(kDir + "/messages");
    return paths.empty() ? "" : paths.front();
}

// Renames a message file as copying through a file system that changes case
// may: its hex digits in capitals, or only its extension.
void ChangeCase(MemFs& fs, bool digits) {
    for (const std::string& path : fs.FilesUnder(kDir + "/messages")) {
        std::string name = path.substr(path.rfind('/') + 1);
        if (digits && name.find_first_of("abcdef") >= 16)
            continue;
        for (size_t i = digits ? 0 : 16; i < name.size(); ++i)
            name[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
        ASSERT_TRUE(fs.Rename(path, path.substr(0, path.rfind('/') + 1) + name).ok());
        return;
    }
}

struct Boundary {
    size_t end;  // journal size after the record
    Bag sources; // what the store showed then
    std::shared_ptr<MemFs> backup;
};

std::vector<std::string> Sources(int first, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(MakeMessage(first + i));
    return out;
}

Status Import(Store& s, FolderId folder, const std::vector<std::string>& sources,
              std::vector<MessageId>* ids) {
    std::vector<ImportItem> items(sources.size());
    for (size_t i = 0; i < sources.size(); ++i)
        items[i].source = sources[i];
    return s.ImportMessages(folder, items, ids);
}

// Another store, numbered as every store is, with other messages, more of them,
// a delete and a compaction behind it.
std::unique_ptr<MemFs> BuildOther() {
    MemFs fs;
    std::unique_ptr<Store> s;
    std::vector<MessageId> ids;
    EXPECT_TRUE(Store::Open(kDir, Options(&fs, true), &s).ok());
    EXPECT_TRUE(Import(*s, 1, Sources(7000, 150), &ids).ok());
    EXPECT_TRUE(s->DeleteMessages(1, {ids[20], ids[21]}).ok());
    EXPECT_TRUE(s->Compact().ok());
    return fs.Clone();
}

// A store with messages in its snapshot and a journal of every kind of change,
// and the journal's record boundaries with what the store showed at each.
// Beside it: the store after one more import, a backup taken while that
// import ran, and the store after an import killed.
std::unique_ptr<MemFs> BuildStore(std::vector<Boundary>* boundaries,
                                  std::unique_ptr<MemFs>* imported, std::unique_ptr<MemFs>* killed,
                                  std::unique_ptr<MemFs>* during = nullptr) {
    MemFs fs;
    std::unique_ptr<Store> s;
    EXPECT_TRUE(Store::Open(kDir, Options(&fs, true), &s).ok());
    FolderId lists = 0, sub = 0;
    std::vector<MessageId> ids, copied;
    int n = 0;
    auto batch = [&](FolderId f, int count) {
        n += count;
        return Import(*s, f, Sources(n - count + 1, count), &ids);
    };
    EXPECT_TRUE(s->CreateFolder(kRootFolder, "Lists", &lists).ok());
    EXPECT_TRUE(batch(1, 5).ok());
    EXPECT_TRUE(batch(lists, 2).ok());
    EXPECT_TRUE(s->Compact().ok());
    const std::vector<std::function<Status()>> changes = {
        [&] { return batch(1, 100); },
        [&] {
            return s->MarkRead(1, {ids[0], ids[1]}, true);
        },
        [&] {
            return s->CopyMessages(1, lists, {ids[2], ids[3]}, &copied);
        },
        [&] { return s->MoveMessages(1, lists, {ids[4]}, nullptr); },
        [&] { return s->SetFlagged(lists, {copied[0]}, true); },
        [&] {
            return s->DeleteMessages(1, {ids[5], ids[6]});
        },
        [&] { return s->CreateFolder(lists, "Sub", &sub); },
        [&] { return batch(sub, 1); },
        [&] { return s->MarkAllRead(lists, true); },
        [&] { return s->RenameFolder(sub, "Renamed"); },
    };
    boundaries->push_back({fs.Content(kJournal)->size(), Sources(*s), fs.Clone()});
    for (const auto& change : changes) {
        EXPECT_TRUE(change().ok());
        boundaries->push_back({fs.Content(kJournal)->size(), Sources(*s), fs.Clone()});
    }
    auto clean = fs.Clone();
    int written = 0;
    fs.beforeStep = [&](uint64_t, MemFs::StepKind kind, const std::string& path) {
        if (during && kind == MemFs::StepKind::Write &&
            path.find("/messages/") != std::string::npos && ++written == 3)
            *during = fs.Clone(); // the intent and two of the batch's files
    };
    EXPECT_TRUE(batch(1, 4).ok());
    fs.beforeStep = nullptr;
    *imported = fs.Clone();
    // An import killed after its intent and a few of its files.
    fs.crashStep = fs.steps() + 10;
    EXPECT_FALSE(batch(1, 5).ok());
    *killed = fs.CrashImage(Unflushed::Applied);
    return clean;
}

// Where the journal record holding byte `at` begins.
uint64_t RecordAt(MemFs& fs, size_t at) {
    const std::string whole = *fs.Content(kJournal);
    const detail::ScanResult scan = detail::ScanRecords(
        std::string_view(whole).substr(detail::kJournalHeaderSize), detail::kJournalHeaderSize);
    uint64_t start = detail::kJournalHeaderSize;
    for (const detail::ScannedRecord& r : scan.records) {
        if (r.offset <= at)
            start = r.offset;
    }
    return start;
}

struct Case {
    std::string name;
    std::function<void(MemFs&)> damage;
    // Text check must name; empty where the files keep no trace of the damage.
    std::string named;
};

struct Tally {
    int cases = 0, detected = 0, lossless = 0, lost = 0;
    size_t setAside = 0; // files the opens moved aside
};

// Whether check finds something to report and names one of the '|'-separated texts.
std::string CheckNames(MemFs& fs, const std::string& named) {
    CheckReport report;
    if (!Store::Check(kDir, &fs, &report).ok())
        return "check could not run";
    std::string all;
    for (const std::string& p : report.problems)
        all += p + "\n";
    for (const std::string& p : report.unaccounted)
        all += p + "\n";
    for (const std::string& p : report.setAside)
        all += p + "\n";
    if (report.clean())
        return "check found nothing";
    for (size_t at = 0; at <= named.size();) {
        size_t bar = std::min(named.find('|', at), named.size());
        if (all.find(named.substr(at, bar - at)) != std::string::npos)
            return "";
        at = bar + 1;
    }
    return "check did not name " + named + " but said:\n" + all;
}

// Runs one case on a copy of the store; the failures are collected in *why.
void RunCase(const MemFs& base, const Case& c, Tally* tally, std::vector<std::string>* why) {
    auto fs = base.Clone();
    c.damage(*fs);
    const Bag left = Files(*fs), all = Files(*fs, true);
    auto fail = [&](const std::string& what) { why->push_back(c.name + ": " + what); };
    auto lose = [&](const std::string& what) {
        ++tally->lost;
        fail(what);
    };
    ++tally->cases;
    std::string named = c.named.empty() ? "" : CheckNames(*fs, c.named);
    // Whatever opens it (a list, the tool starting, an init) deletes nothing, and
    // tells what it set aside.
    std::vector<std::string> told;
    for (bool create : {false, true}) {
        std::unique_ptr<Store> s;
        if (Store::Open(kDir, Options(fs.get(), create), &s).ok()) {
            Sources(*s);
            told.insert(told.end(), s->SetAsideFiles().begin(), s->SetAsideFiles().end());
        }
    }
    if (!Includes(Files(*fs, true), all))
        return lose("opening it deleted a message file");
    CheckReport listed;
    Store::Check(kDir, fs.get(), &listed);
    tally->setAside += told.size();
    for (const std::string& path : told) {
        if (std::count(listed.setAside.begin(), listed.setAside.end(), path) != 1)
            return fail("set aside " + path + " but check does not list it");
    }
    if (!named.empty())
        return fail(named);
    // After the opens, what they kept is still reported.
    named = c.named.empty() ? "" : CheckNames(*fs, c.named + "|set-aside/");
    if (!named.empty())
        return fail("after opening: " + named);
    ++(c.named.empty() ? tally->lossless : tally->detected);
    RecoverReport rr;
    Status st = Store::Recover(kDir, fs.get(), &rr);
    if (!st.ok())
        return fail("recover: " + st.message());
    CheckReport report;
    if (!Store::Check(kDir, fs.get(), &report).ok() || !report.clean())
        return fail("not sound after recover: " +
                    (report.problems.empty() ? std::string() : report.problems[0]));
    std::unique_ptr<Store> s;
    if (!Store::Open(kDir, Options(fs.get()), &s).ok())
        return fail("no open after recover");
    if (!Includes(Sources(*s), left) || !Includes(Files(*fs, true), all))
        return lose("recover did not bring every message back");
    std::vector<MessageId> ids;
    if (!Import(*s, 1, Sources(5000, 3), &ids).ok())
        return fail("no import after recover");
    s.reset();
    MessageInfo info;
    if (!Store::Open(kDir, Options(fs.get()), &s).ok() || !s->GetMessageInfo(1, ids[2], &info).ok())
        return fail("the import after recover did not last");
    // Numbers given twice would leave a record without its file.
    if (!Store::Check(kDir, fs.get(), &report).ok() || !report.clean())
        return fail("not sound after an import: " +
                    (report.problems.empty() ? std::string() : report.problems[0]));
}

// Where the journal is cut: check must speak up exactly when the files show the
// lost records (message files written or removed for them).
std::string CutExpectation(const MemFs& base, const Boundary& kept) {
    auto fs = base.Clone();
    return Files(*fs) == kept.sources ? "" : "journal.bin|messages/";
}

// Replaces every file of the store with the backup's, as restoring a copy of
// the whole directory into an emptied one does.
void RestoreAlone(MemFs& fs, const MemFs& backup) {
    for (const std::string& path : fs.FilesUnder(kDir))
        fs.Remove(path);
    CopyIn(fs, backup, "", true);
}

// A backup taken while an import ran, restored in the ways people restore,
// over the store that committed the import since. The batch's files stay:
// the restored intent cannot tell them from a killed import's.
std::vector<Case> RestoresOverACommittedImport(const MemFs& imported, const MemFs& during) {
    const std::string named = "journal does not hold";
    auto live = [&imported](MemFs& fs) { CopyIn(fs, imported, "", true); };
    auto restore = [&during](MemFs& fs, const std::vector<std::string>& names) {
        auto src = during.Clone();
        for (const std::string& name : names)
            *fs.Content(kDir + "/" + name) = *src->Content(kDir + "/" + name);
    };
    return {
        {"a backup taken during an import copied back whole over the store that committed it",
         [=, &imported, &during](MemFs& fs) {
             live(fs);
             CopyIn(fs, during, "", true);
         },
         named},
        {"only journal.bin and intent.bin of that backup restored",
         [=, &imported, &during](MemFs& fs) {
             live(fs);
             restore(fs, {"journal.bin", "intent.bin"});
         },
         named},
        {"journal.bin, snapshot.bin and intent.bin of that backup restored",
         [=, &imported, &during](MemFs& fs) {
             live(fs);
             restore(fs, {"journal.bin", "snapshot.bin", "intent.bin"});
         },
         named},
        {"that backup restored alone, the live message files merged back",
         [=, &imported, &during](MemFs& fs) {
             RestoreAlone(fs, during);
             CopyIn(fs, imported, "/messages", false);
         },
         named},
    };
}

TEST(Damage, TableOfDamageNeverLosesMail) {
    std::vector<Boundary> bounds;
    std::unique_ptr<MemFs> imported, killed, during;
    const auto base = BuildStore(&bounds, &imported, &killed, &during);
    ASSERT_TRUE(during && !during->Content(kDir + "/intent.bin")->empty()) << "a backup mid-import";
    ASSERT_GT(Files(*killed).size(), Files(*imported).size()) << "the killed import wrote files";
    const auto other = BuildOther();
    ASSERT_EQ(bounds.size(), 11u);
    ASSERT_EQ(Files(*base.get()->Clone()), bounds.back().sources) << "a clean store's files";
    std::vector<Case> cases = {
        {"snapshot deleted", [](MemFs& fs) { fs.Remove(kSnapshot); }, "snapshot.bin"},
        {"snapshot cut", [](MemFs& fs) { Cut(fs, kSnapshot, fs.Content(kSnapshot)->size() / 2); },
         "snapshot.bin"},
        {"snapshot bit flipped", [](MemFs& fs) { Flip(fs, kSnapshot, 30); }, "snapshot.bin"},
        {"journal deleted", [](MemFs& fs) { fs.Remove(kJournal); }, "journal.bin"},
        {"journal header cut", [](MemFs& fs) { Cut(fs, kJournal, 10); }, "journal.bin"},
        {"message file deleted", [](MemFs& fs) { fs.Remove(FirstMessageFile(fs)); }, "missing"},
        {"message file cut", [](MemFs& fs) { Cut(fs, FirstMessageFile(fs), 7); }, "cut short"},
        {"message file changed in place", [](MemFs& fs) { Flip(fs, FirstMessageFile(fs), 3); },
         "changed in place"},
        {"set-aside folder taken by a file, journal cut after an import",
         [&](MemFs& fs) {
             std::unique_ptr<File> f;
             fs.Open(kDir + "/set-aside", OpenMode::CreateNew, &f);
             Cut(fs, kJournal, bounds[0].end);
         },
         "set-aside"},
        {"set-aside files deleted after a journal cut",
         [&](MemFs& fs) {
             Cut(fs, kJournal, bounds[0].end);
             std::unique_ptr<Store> s;
             Store::Open(kDir, Options(&fs), &s);
             std::vector<std::string> names;
             fs.ListDir(kDir + "/set-aside", &names);
             ASSERT_FALSE(names.empty()) << "the open set nothing aside";
             fs.Remove(kDir + "/set-aside/" + names.front());
         },
         "set-aside/"},
    };
    // Accidents with backups, other stores and stray files. No rule looks at
    // file times, so a clock set wrong changes nothing in these.
    for (size_t k : {0, 1, 5}) {
        const Boundary& b = bounds[k];
        cases.push_back({"journal restored from a backup taken after record " + std::to_string(k),
                         [&b](MemFs& fs) { *fs.Content(kJournal) = *b.backup->Content(kJournal); },
                         CutExpectation(*base, b)});
        cases.push_back(
            {"whole backup after record " + std::to_string(k) + " copied back, newer files stay",
             [&b](MemFs& fs) { CopyIn(fs, *b.backup, "", true); }, "messages/"});
    }
    const std::vector<Case> more = {
        {"another store's message files merged in",
         [&](MemFs& fs) { CopyIn(fs, *other, "/messages", false); }, "messages/"},
        {"another store's snapshot copied over",
         [&](MemFs& fs) { *fs.Content(kSnapshot) = *other->Clone()->Content(kSnapshot); },
         "journal.bin|snapshot.bin"},
        {"stray ffffffffffffffff.eml",
         [](MemFs& fs) { Put(fs, kDir + "/messages/ffffffffffffffff.eml", MakeMessage(801)); },
         "ffffffffffffffff.eml"},
        {"stray fffffffffffffffe.eml in its sub-directory",
         [](MemFs& fs) {
             Put(fs, kDir + "/messages/ffffffffffff/ff/fffffffffffffffe.eml", MakeMessage(802));
         },
         "fffffffffffffffe.eml"},
        {"a folder of mail put into set-aside/",
         [](MemFs& fs) { Put(fs, kDir + "/set-aside/Export/cur/1.eml", MakeMessage(803)); }, ""},
        {"a message file's name in capitals", [](MemFs& fs) { ChangeCase(fs, true); },
         "under another name than the store's"},
        {"a message file's extension in capitals", [](MemFs& fs) { ChangeCase(fs, false); },
         "under another name than the store's"},
        {"a directory in place of snapshot.bin", [](MemFs& fs) { DirectoryAt(fs, kSnapshot); },
         "snapshot.bin: a directory"},
        {"a directory in place of journal.bin", [](MemFs& fs) { DirectoryAt(fs, kJournal); },
         "journal.bin: a directory"},
        {"a directory in place of intent.bin",
         [](MemFs& fs) { DirectoryAt(fs, kDir + "/intent.bin"); }, "intent.bin: a directory"},
        {"the journal cut before the last change, an import",
         [&](MemFs& fs) {
             CopyIn(fs, *imported, "", true);
             Cut(fs, kJournal, bounds.back().end);
         },
         "messages/"},
        {"an import killed, then the journal cut a record back",
         [&](MemFs& fs) {
             CopyIn(fs, *killed, "", true);
             Cut(fs, kJournal, bounds[9].end);
         },
         "messages/"},
    };
    cases.insert(cases.end(), more.begin(), more.end());
    const std::vector<Case> restores = RestoresOverACommittedImport(*imported, *during);
    cases.insert(cases.end(), restores.begin(), restores.end());
    const size_t bodyStart = 24;
    for (size_t k = 0; k < bounds.size(); ++k) {
        const std::string end = std::to_string(bounds[k].end);
        cases.push_back({"journal cut at boundary " + end,
                         [&, k](MemFs& fs) { Cut(fs, kJournal, bounds[k].end); },
                         CutExpectation(*base, bounds[k])});
        if (k == 0)
            continue;
        const size_t start = bounds[k - 1].end, len = bounds[k].end - start;
        for (size_t at : {start + 1, start + 16, start + len / 2, bounds[k].end - 1}) {
            cases.push_back({"journal cut inside record at " + std::to_string(start) + " at " +
                                 std::to_string(at),
                             [at](MemFs& fs) { Cut(fs, kJournal, at); },
                             CutExpectation(*base, bounds[k - 1])});
        }
        // A flip anywhere in a record: its length is all there, so it is damage.
        // (A delete writes two: the change, then that its files are gone.)
        for (size_t at : {start + 2, start + 20, start + len - 1})
            cases.push_back(
                {"bit flipped at " + std::to_string(at),
                 [at](MemFs& fs) { Flip(fs, kJournal, at); },
                 "journal.bin: damaged record at offset " + std::to_string(RecordAt(*base, at))});
    }
    ASSERT_EQ(bounds.front().end, bodyStart) << "the snapshot holds the first messages";
    // Every case again on the same store as written before sub-directories.
    auto flat = base->Clone();
    flat->Flatten(kDir);
    Tally tally;
    std::vector<std::string> why;
    for (const MemFs* layout : {base.get(), flat.get()}) {
        for (const Case& c : cases)
            RunCase(*layout, c, &tally, &why);
    }
    for (const std::string& w : why)
        ADD_FAILURE() << w;
    EXPECT_EQ(tally.lost, 0);
    EXPECT_GT(tally.detected, tally.lossless);
    EXPECT_GT(tally.setAside, 0u);
    std::cout << "[ damage ] " << tally.cases << " cases: " << tally.detected << " detected, "
              << tally.lossless << " lossless (the files keep no trace: journal cuts losing only "
              << "marks, flags, moves or folder changes, a folder put into set-aside/), "
              << tally.lost << " lost; " << tally.setAside << " files set aside by opens\n";
}

// A killed import's files are what a committed import under a restored journal
// would leave too: check names them without calling the store damaged, the
// next open sets them aside and recover adopts them, never removing one. A
// killed copy's files go, since committed messages hold their bytes.
TEST(Damage, KilledBatchesFilesAreSetAsideUnlessHeldElsewhere) {
    std::vector<Boundary> bounds;
    std::unique_ptr<MemFs> imported, killed;
    BuildStore(&bounds, &imported, &killed);
    CheckReport report;
    ASSERT_TRUE(Store::Check(kDir, killed.get(), &report).ok());
    EXPECT_TRUE(report.ok);
    ASSERT_FALSE(report.unaccounted.empty());
    for (const std::string& u : report.unaccounted)
        EXPECT_NE(u.find("a batch the journal does not hold"), std::string::npos) << u;
    const Bag all = Files(*killed);
    auto recovered = killed->Clone();
    RecoverReport rr;
    ASSERT_TRUE(Store::Recover(kDir, recovered.get(), &rr).ok());
    EXPECT_EQ(rr.recovered, report.unaccounted.size());
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(kDir, Options(killed.get()), &s).ok());
    EXPECT_EQ(s->SetAsideFiles().size(), report.unaccounted.size());
    for (MemFs* fs : {recovered.get(), killed.get()})
        EXPECT_EQ(Files(*fs), all) << "every file kept";

    // A copy killed after its files: the next open removes them.
    MemFs fs;
    ASSERT_TRUE(Store::Open(kDir, Options(&fs, true), &s).ok());
    std::vector<MessageId> ids, copied;
    ASSERT_TRUE(Import(*s, 1, Sources(1, 3), &ids).ok());
    std::unique_ptr<MemFs> copyKilled; // just before its record
    fs.beforeStep = [&](uint64_t, MemFs::StepKind kind, const std::string& path) {
        if (kind == MemFs::StepKind::Write && path == kJournal && !copyKilled)
            copyKilled = fs.Clone();
    };
    ASSERT_TRUE(s->CopyMessages(1, 1, ids, &copied).ok());
    fs.beforeStep = nullptr;
    ASSERT_EQ(Files(*copyKilled).size(), 6u) << "the copy wrote its files";
    ASSERT_TRUE(Store::Check(kDir, copyKilled.get(), &report).ok());
    ASSERT_EQ(report.unaccounted.size(), 3u);
    EXPECT_NE(report.unaccounted[0].find("holds the same bytes, so the next open removes it"),
              std::string::npos)
        << report.unaccounted[0];
    ASSERT_TRUE(Store::Open(kDir, Options(copyKilled.get()), &s).ok());
    ASSERT_TRUE(Store::Check(kDir, copyKilled.get(), &report).ok());
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(Files(*copyKilled).size(), 3u);
}

} // namespace
} // namespace mailstore::testing
