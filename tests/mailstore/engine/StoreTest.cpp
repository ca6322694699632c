// The store's operations through its public interface: bad input, change events,
// a second store object in the same directory, message sources and the real disk.
#include "Codec.h"
#include "Journal.h"
#include "RecordCodec.h"
#include "State.h"
#include "StoreFiles.h"
#include "LetGoRemover.h"
#include "MemFs.h"
#include "StoreModel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

namespace mailstore::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

OpenOptions Options(FileSystem* fs, bool create = true) {
    OpenOptions o;
    o.fs = fs;
    o.create = create;
    o.clock = [] { return kFixedClock; };
    o.lockTimeoutMs = 0;
    return o;
}

std::string Describe(const ChangeEvent& e) {
    std::string s = std::string(EventKindName(e.kind)) + " f=" + std::to_string(e.folder);
    if (e.message)
        s += " m=" + std::to_string(e.message);
    if (e.kind == EventKind::FolderMoved || e.kind == EventKind::FolderCreated)
        s += " to=" + std::to_string(e.newParent);
    if (e.kind == EventKind::FolderMoved || e.kind == EventKind::FolderDeleted)
        s += " from=" + std::to_string(e.oldParent);
    if (e.allMessages)
        s += " all";
    if (e.kind == EventKind::FolderCountsChanged)
        s += e.unreadChanged ? " unread" : " count";
    if (e.kind == EventKind::MessageFlagChanged)
        s += e.flagged ? " on" : " off";
    return s;
}

std::vector<std::string> Events(Store& store) {
    std::vector<std::string> out;
    for (const ChangeEvent& e : store.TakeEvents())
        out.push_back(Describe(e));
    return out;
}

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Store::Open("/s", Options(&fs), &store).ok()); }
    MessageId Import(FolderId f, int n) {
        MessageId id = 0;
        EXPECT_TRUE(store->ImportMessage(f, MakeMessage(n), &id).ok());
        return id;
    }
    MemFs fs;
    std::unique_ptr<Store> store;
};

TEST_F(StoreTest, NewStoreHasTheFiveSpecialFolders) {
    std::vector<FolderId> top;
    ASSERT_TRUE(store->GetChildren(kRootFolder, &top).ok());
    ASSERT_THAT(top, ElementsAre(1, 2, 3, 4, 5));
    const char* names[] = {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"};
    for (FolderId id : top) {
        FolderInfo fi;
        ASSERT_TRUE(store->GetFolder(id, &fi).ok());
        EXPECT_EQ(fi.name, names[id - 1]);
        EXPECT_EQ(fi.type, static_cast<int32_t>(id) - 1);
        EXPECT_EQ(fi.parent, kRootFolder);
    }
    FolderInfo root;
    ASSERT_TRUE(store->GetFolder(kRootFolder, &root).ok());
    EXPECT_EQ(root.subFolderCount, 5u);
    EXPECT_EQ(root.type, kFolderNormal);
}

TEST_F(StoreTest, BadInputGetsAClearErrorAndChangesNothing) {
    FolderId work = 0, sub = 0;
    ASSERT_TRUE(store->CreateFolder(kRootFolder, "Work", &work).ok());
    ASSERT_TRUE(store->CreateFolder(work, "Sub", &sub).ok());
    MessageId m = Import(1, 1);
    store->TakeEvents();
    const std::string before = Dump(*store);
    const size_t journalBefore = fs.Content("/s/journal.bin")->size();

    struct Case {
        const char* what;
        std::function<Status()> call;
        ErrorCode code;
    } cases[] = {
        {"create under unknown", [&] { return store->CreateFolder(77, "x", nullptr); },
         ErrorCode::UnknownFolder},
        {"empty name", [&] { return store->CreateFolder(work, "", nullptr); },
         ErrorCode::InvalidName},
        {"256-byte name", [&] { return store->CreateFolder(work, std::string(256, 'n'), nullptr); },
         ErrorCode::InvalidName},
        {"control character", [&] { return store->CreateFolder(work, "a\tb", nullptr); },
         ErrorCode::InvalidName},
        {"bad UTF-8", [&] { return store->CreateFolder(work, "a\xFF", nullptr); },
         ErrorCode::InvalidName},
        {"sibling clash", [&] { return store->CreateFolder(kRootFolder, "Inbox", nullptr); },
         ErrorCode::NameExists},
        {"rename to clash", [&] { return store->RenameFolder(work, "Drafts"); },
         ErrorCode::NameExists},
        {"rename special", [&] { return store->RenameFolder(1, "Post"); },
         ErrorCode::SpecialFolder},
        {"rename unknown", [&] { return store->RenameFolder(77, "x"); }, ErrorCode::UnknownFolder},
        {"rename root", [&] { return store->RenameFolder(kRootFolder, "x"); },
         ErrorCode::InvalidArgument},
        {"move special", [&] { return store->MoveFolder(3, work); }, ErrorCode::SpecialFolder},
        {"move into itself", [&] { return store->MoveFolder(work, work); },
         ErrorCode::IntoOwnSubtree},
        {"move into descendant", [&] { return store->MoveFolder(work, sub); },
         ErrorCode::IntoOwnSubtree},
        {"move to unknown", [&] { return store->MoveFolder(work, 77); }, ErrorCode::UnknownFolder},
        {"delete special", [&] { return store->DeleteFolder(4); }, ErrorCode::SpecialFolder},
        {"delete root", [&] { return store->DeleteFolder(kRootFolder); },
         ErrorCode::InvalidArgument},
        {"delete unknown", [&] { return store->DeleteFolder(77); }, ErrorCode::UnknownFolder},
        {"import empty", [&] { return store->ImportMessage(1, "", nullptr); },
         ErrorCode::InvalidArgument},
        {"import into root", [&] { return store->ImportMessage(kRootFolder, "x", nullptr); },
         ErrorCode::InvalidArgument},
        {"import unknown folder", [&] { return store->ImportMessage(77, "x", nullptr); },
         ErrorCode::UnknownFolder},
        {"import bad state", [&] { return store->ImportMessage(1, "x", nullptr, 0x4); },
         ErrorCode::InvalidArgument},
        {"copy unknown message",
         [&] {
             return store->CopyMessages(1, work, {m, 999}, nullptr);
         },
         ErrorCode::UnknownMessage},
        {"move to same folder", [&] { return store->MoveMessages(1, 1, {m}, nullptr); },
         ErrorCode::InvalidArgument},
        {"move into root", [&] { return store->MoveMessages(1, kRootFolder, {m}, nullptr); },
         ErrorCode::InvalidArgument},
        {"delete unknown message",
         [&] {
             return store->DeleteMessages(1, {999, m});
         },
         ErrorCode::UnknownMessage},
        {"message in wrong folder", [&] { return store->MarkRead(2, {m}, true); },
         ErrorCode::UnknownMessage},
        {"flag unknown",
         [&] {
             return store->SetFlagged(1, {m, 998}, true);
         },
         ErrorCode::UnknownMessage},
        {"mark all unknown folder", [&] { return store->MarkAllRead(77, true); },
         ErrorCode::UnknownFolder},
    };
    for (const Case& c : cases) {
        Status s = c.call();
        EXPECT_EQ(s.code(), c.code) << c.what << ": " << s.message();
        EXPECT_FALSE(s.message().empty()) << c.what;
        EXPECT_EQ(Dump(*store), before) << c.what;
        EXPECT_FALSE(store->HasEvents()) << c.what;
    }
    EXPECT_EQ(fs.Content("/s/journal.bin")->size(), journalBefore);
    // The longest allowed name and names differing only in case are fine.
    EXPECT_TRUE(store->CreateFolder(work, std::string(255, 'n'), nullptr).ok());
    EXPECT_TRUE(store->CreateFolder(kRootFolder, "inbox", nullptr).ok());
}

TEST_F(StoreTest, EveryChangeReportsItsEventsInOrder) {
    FolderId a = 0, b = 0;
    ASSERT_TRUE(store->CreateFolder(kRootFolder, "A", &a).ok());
    ASSERT_TRUE(store->CreateFolder(a, "B", &b).ok());
    EXPECT_THAT(Events(*store), ElementsAre("FolderCreated f=6 to=0", "FolderCreated f=7 to=6"));
    ASSERT_TRUE(store->RenameFolder(b, "B2").ok());
    ASSERT_TRUE(store->MoveFolder(b, 1).ok());
    EXPECT_THAT(Events(*store), ElementsAre("FolderRenamed f=7", "FolderMoved f=7 to=1 from=6"));

    MessageId m1 = Import(a, 1), m2 = Import(a, 2);
    EXPECT_THAT(Events(*store),
                ElementsAre("MessageAdded f=6 m=1", "FolderCountsChanged f=6 unread",
                            "MessageAdded f=6 m=2", "FolderCountsChanged f=6 unread"));
    ASSERT_TRUE(store->MarkRead(a, {m1}, true).ok());
    ASSERT_TRUE(store->MarkRead(a, {m1}, true).ok()); // already read: no change, no event
    ASSERT_TRUE(store->SetFlagged(a, {m2}, true).ok());
    EXPECT_THAT(Events(*store),
                ElementsAre("MessageMarkedRead f=6 m=1", "FolderCountsChanged f=6 unread",
                            "MessageFlagChanged f=6 m=2 on"));
    ASSERT_TRUE(store->MarkAllRead(a, true).ok());
    ASSERT_TRUE(store->MarkAllRead(a, false).ok());
    EXPECT_THAT(Events(*store),
                ElementsAre("MessageMarkedRead f=6 all", "FolderCountsChanged f=6 unread",
                            "MessageMarkedUnread f=6 all", "FolderCountsChanged f=6 unread"));
    std::vector<MessageId> copies, moved;
    ASSERT_TRUE(store->CopyMessages(a, b, {m2}, &copies).ok());
    ASSERT_TRUE(store->MoveMessages(a, b, {m1}, &moved).ok());
    EXPECT_THAT(copies, ElementsAre(3));
    EXPECT_THAT(moved, ElementsAre(4));
    EXPECT_THAT(Events(*store),
                ElementsAre("MessageAdded f=7 m=3", "FolderCountsChanged f=7 unread",
                            "MessageDeleted f=6 m=1", "MessageAdded f=7 m=4",
                            "FolderCountsChanged f=6 unread", "FolderCountsChanged f=7 unread"));
    ASSERT_TRUE(store->DeleteMessages(b, {3}).ok());
    ASSERT_TRUE(store->DeleteFolder(a).ok());
    EXPECT_THAT(Events(*store),
                ElementsAre("MessageDeleted f=7 m=3", "FolderCountsChanged f=7 unread",
                            "FolderDeleted f=6 from=0"));
    // Moved messages keep their props and source; ids are never given out twice.
    MessageInfo info;
    ASSERT_TRUE(store->GetMessageInfo(b, 4, &info).ok());
    EXPECT_EQ(info.subject, "note 1");
    EXPECT_EQ(info.state, kStateUnread);
    EXPECT_EQ(Import(b, 3), 5u);
}

TEST_F(StoreTest, ASecondStoreSeesEveryChangeInOrder) {
    std::unique_ptr<Store> other;
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &other).ok());
    bool changed = true;
    ASSERT_TRUE(other->Refresh(&changed).ok());
    EXPECT_FALSE(changed);

    FolderId a = 0;
    ASSERT_TRUE(store->CreateFolder(kRootFolder, "A", &a).ok());
    MessageId m = Import(a, 1);
    ASSERT_TRUE(store->MarkRead(a, {m}, true).ok());
    ASSERT_TRUE(other->Refresh(&changed).ok());
    EXPECT_TRUE(changed);
    EXPECT_EQ(Events(*other), Events(*store));
    EXPECT_EQ(Dump(*other), Dump(*store));

    // The other store writes too: each catches up before changing anything.
    ASSERT_TRUE(other->RenameFolder(a, "A2").ok());
    ASSERT_TRUE(store->ImportMessage(a, MakeMessage(2), nullptr).ok());
    EXPECT_THAT(Events(*store), ElementsAre("FolderRenamed f=6", "MessageAdded f=6 m=2",
                                            "FolderCountsChanged f=6 unread"));
    ASSERT_TRUE(other->Refresh().ok());
    EXPECT_EQ(Dump(*other), Dump(*store));
    other->TakeEvents();

    // Changes folded into a snapshot before the other store saw them still arrive.
    ASSERT_TRUE(store->DeleteMessages(a, {m}).ok());
    ASSERT_TRUE(store->CreateFolder(a, "Child", nullptr).ok());
    ASSERT_TRUE(store->Compact().ok());
    ASSERT_TRUE(store->SetFlagged(a, {2}, true).ok());
    ASSERT_TRUE(other->Refresh(&changed).ok());
    EXPECT_TRUE(changed);
    EXPECT_EQ(Dump(*other), Dump(*store));
    EXPECT_THAT(Events(*other),
                ElementsAre("FolderCreated f=7 to=6", "MessageDeleted f=6 m=1",
                            "FolderCountsChanged f=6 count", "MessageFlagChanged f=6 m=2 on"));
    // A compaction with nothing unseen produces no events.
    ASSERT_TRUE(store->Compact().ok());
    ASSERT_TRUE(other->Refresh(&changed).ok());
    EXPECT_FALSE(changed);
    EXPECT_FALSE(other->HasEvents());
}

// Deletions another writer made record by record open as one pass over the
// folder; what opens must be what those records give one at a time.
TEST_F(StoreTest, RunsOfDeleteRecordsOpenAsTheyWereWritten) {
    FolderId b = 0;
    ASSERT_TRUE(store->CreateFolder(kRootFolder, "B", &b).ok());
    std::vector<MessageId> ids;
    for (int n = 0; n < 12; ++n)
        ids.push_back(Import(n % 4 == 3 ? b : 1, n));
    ASSERT_TRUE(store->MarkRead(1, {ids[1]}, true).ok());
    const std::vector<std::pair<FolderId, std::vector<MessageId>>> deletes = {
        {1, {ids[0]}}, {1, {ids[8], ids[1]}}, {b, {ids[7]}}, {1, {ids[5]}}, {1, {ids[9]}}};
    for (const auto& [folder, gone] : deletes)
        ASSERT_TRUE(store->DeleteMessages(folder, gone).ok());
    std::unique_ptr<Store> reopened;
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &reopened).ok());
    EXPECT_EQ(Dump(*reopened), Dump(*store));

    // A run whose second record deletes a message already gone: the open names
    // that record.
    std::string& journal = *fs.Content("/s/journal.bin");
    const detail::ScanResult scan = detail::ScanRecords(
        std::string_view(journal).substr(detail::kJournalHeaderSize), detail::kJournalHeaderSize);
    detail::Transaction tx;
    ASSERT_TRUE(detail::DecodeTransaction(scan.records.back().payload, &tx));
    size_t at = 0;
    for (MessageId id : {ids[2], ids[5]}) {
        tx.seq += 1;
        tx.ops.assign(1, detail::Op());
        tx.ops[0].type = detail::OpType::DeleteMessages;
        tx.ops[0].folder = 1;
        tx.ops[0].ids = {id};
        std::string payload;
        detail::EncodeTransaction(tx, &payload);
        at = journal.size();
        detail::AppendRecord(payload, &journal);
    }
    Status s = Store::Open("/s", Options(&fs, false), &reopened);
    EXPECT_EQ(s.code(), ErrorCode::Corrupt);
    EXPECT_THAT(s.message(), HasSubstr("record at offset " + std::to_string(at) + " "));
}

TEST_F(StoreTest, LargeSourcesStreamInPiecesAndSurviveMovesAndDeletes) {
    std::string big = MakeMessage(1, 3u << 20);
    big[big.size() / 2] = '\0'; // bytes are kept as given, NULs included
    MessageId id = 0;
    ASSERT_TRUE(store->ImportMessage(1, big, &id).ok());
    std::vector<MessageId> moved;
    ASSERT_TRUE(store->MoveMessages(1, 5, {id}, &moved).ok());
    std::unique_ptr<MessageReader> r;
    ASSERT_TRUE(store->OpenMessageSource(5, moved[0], &r).ok());
    ASSERT_EQ(r->Size(), big.size());
    ASSERT_TRUE(store->DeleteMessages(5, moved).ok());
    std::string back;
    char buf[65536];
    for (uint64_t off = 0;;) {
        size_t got = 0;
        ASSERT_TRUE(r->ReadAt(off, buf, sizeof buf, &got).ok());
        if (got == 0)
            break;
        back.append(buf, got);
        off += got;
    }
    EXPECT_TRUE(back == big);
    EXPECT_EQ(store->OpenMessageSource(5, moved[0], &r).code(), ErrorCode::UnknownMessage);
}

TEST_F(StoreTest, ImportFillsPropsFromHeadersAndOptions) {
    const std::string src = "Subject: =?utf-8?Q?H=C3=A9llo?=\r\nFrom: alice@example.org\r\n"
                            "Importance: low\r\n\r\nbody";
    std::vector<ImportItem> items(2);
    items[0].source = src;
    items[1].source = src;
    items[1].state = kStateFlagged;
    items[1].received = 42;
    std::vector<MessageId> ids;
    ASSERT_TRUE(store->ImportMessages(1, items, &ids).ok());
    MessageInfo a, b;
    ASSERT_TRUE(store->GetMessageInfo(1, ids[0], &a).ok());
    ASSERT_TRUE(store->GetMessageInfo(1, ids[1], &b).ok());
    EXPECT_EQ(a.subject, "Héllo");
    EXPECT_EQ(a.from, "alice@example.org");
    EXPECT_EQ(a.priority, kPriorityLow);
    EXPECT_EQ(a.state, kStateUnread);
    EXPECT_EQ(a.received, kFixedClock);
    EXPECT_EQ(a.sent, 0u);
    EXPECT_EQ(a.size, src.size());
    EXPECT_EQ(b.state, kStateFlagged);
    EXPECT_EQ(b.received, 42u);

    // Without a received time given: Received:, delivered, Date:, the file's time, now.
    const std::string received = "Received: by x; Wed, 2 Dec 2026 11:00:00 +0000\r\n";
    const std::string date = "Date: Tue, 1 Dec 2026 10:00:00 +0000\r\n\r\nx";
    const std::string withBoth = received + date;
    std::vector<ImportItem> guesses(5);
    guesses[0].source = withBoth;
    guesses[1].source = date;
    guesses[2].source = date;
    guesses[3].source = src;
    guesses[4].source = src;
    for (ImportItem& g : guesses) {
        g.delivered = 7;
        g.fileModified = 9;
    }
    guesses[2].delivered.reset();
    guesses[3].delivered.reset();
    guesses[4] = ImportItem{src, {}, {}, {}, {}};
    ASSERT_TRUE(store->ImportMessages(1, guesses, &ids).ok());
    const uint64_t expected[] = {FileTimeFromUtc(2026, 12, 2, 11, 0, 0), 7,
                                 FileTimeFromUtc(2026, 12, 1, 10, 0, 0), 9, kFixedClock};
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(store->GetMessageInfo(1, ids[i], &a).ok());
        EXPECT_EQ(a.received, expected[i]) << i;
    }
    FolderInfo inbox;
    ASSERT_TRUE(store->GetFolder(1, &inbox).ok());
    EXPECT_EQ(inbox.messageCount, 7u);
    EXPECT_EQ(inbox.unreadCount, 6u);
}

// A message record as stores wrote it before records held source checksums.
void EncodeOldMessage(detail::Encoder& e, MessageId id, uint64_t fileNo, size_t size) {
    e.U32(id);
    e.U32(kStateUnread);
    e.U32(kPriorityNormal);
    e.U32(static_cast<uint32_t>(size));
    e.U64(fileNo);
    e.U64(kFixedClock);
    e.U64(0);
    e.Str("old " + std::to_string(id));
    e.Str("");
    e.Str("");
}

// A store from before checksums: a version 1 snapshot with one message and a
// journal adding another in the first form. It opens, checks sound and takes
// changes, which then carry checksums.
// Files spread over several sub-directories: read back, counted by check, and
// what deletes and a crash leave is swept by compaction in each of them.
TEST_F(StoreTest, MessageFilesFillSmallDirectoriesInTurn) {
    std::vector<std::string> sources;
    std::vector<ImportItem> items(600);
    for (int i = 0; i < 600; ++i)
        sources.push_back(MakeMessage(i));
    for (int i = 0; i < 600; ++i)
        items[i].source = sources[i];
    std::vector<MessageId> ids;
    ASSERT_TRUE(store->ImportMessages(1, items, &ids).ok());
    std::map<std::string, int> perDir;
    for (const std::string& path : fs.FilesUnder("/s/messages"))
        ++perDir[path.substr(0, path.rfind('/'))];
    EXPECT_EQ(perDir, (std::map<std::string, int>{{"/s/messages/00/00", 255},
                                                  {"/s/messages/00/01", 256},
                                                  {"/s/messages/00/02", 89}}));
    // A delete whose files a closed session left waiting, one in another
    // sub-directory than the last: check counts them and calls the store sound.
    const std::string kept = *fs.Content("/s/messages/00/01/0000000000000100.eml");
    store.reset();
    OpenOptions later = Options(&fs, false);
    later.removeLetGoFilesLater = true;
    ASSERT_TRUE(Store::Open("/s", later, &store).ok());
    ASSERT_TRUE(store->DeleteMessages(1, {ids[10], ids[255], ids[599]}).ok());
    store.reset();
    CheckReport report;
    ASSERT_TRUE(Store::Check("/s", &fs, &report).ok());
    EXPECT_TRUE(report.clean());
    EXPECT_EQ(report.waitingRemoval, 3u);
    EXPECT_EQ(report.messages, 597u);
    // The next open removes them at once.
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &store).ok());
    EXPECT_EQ(fs.FilesUnder("/s/messages").size(), 597u);
    std::unique_ptr<MessageReader> reader;
    ASSERT_TRUE(store->OpenMessageSource(1, ids[598], &reader).ok());
    EXPECT_EQ(reader->Size(), sources[598].size());
    // Put back by hand later, a file is no longer what a delete let go: kept.
    std::unique_ptr<File> f;
    ASSERT_TRUE(fs.Open("/s/messages/00/01/0000000000000100.eml", OpenMode::CreateNew, &f).ok());
    ASSERT_TRUE(f->WriteAt(0, kept.data(), kept.size()).ok());
    f.reset();
    store.reset();
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &store).ok());
    ASSERT_TRUE(Store::Check("/s", &fs, &report).ok());
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_THAT(report.problems[0], HasSubstr("0000000000000100.eml: no record names it; the next "
                                              "compaction sets it aside"));
    EXPECT_EQ(report.waitingRemoval, 0u);
    ASSERT_TRUE(store->Compact().ok());
    EXPECT_THAT(store->SetAsideFiles(), ElementsAre(HasSubstr("0000000000000100")));
}

// A store that removes let-go files later: the delete is committed at once
// and its files go on the remover's thread, which steps aside for a writer
// of this process; once they are gone their records are forgotten, so a
// file put back under such a number is kept. What a session left waiting
// goes at the next open, each file only while it holds what was deleted.
TEST(StoreLetGoFiles, RemovedOffTheThreadThenForgotten) {
    namespace fsys = std::filesystem;
    const fsys::path dir =
        fsys::temp_directory_path() / ("letgo-" + std::to_string(std::random_device()()));
    fsys::remove_all(dir);
    FileSystem& disk = DefaultFileSystem();
    OpenOptions o = Options(&disk);
    o.removeLetGoFilesLater = true;
    o.lockTimeoutMs = 10000;
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(dir.string(), o, &store).ok());
    std::vector<std::string> sources;
    std::vector<ImportItem> items(300);
    for (int i = 0; i < 300; ++i)
        sources.push_back(MakeMessage(i));
    for (int i = 0; i < 300; ++i)
        items[i].source = sources[i];
    std::vector<MessageId> ids;
    ASSERT_TRUE(store->ImportMessages(1, items, &ids).ok());
    auto fileCount = [&] {
        size_t n = 0;
        for (const auto& e : fsys::recursive_directory_iterator(dir / "messages"))
            n += e.is_regular_file() ? 1 : 0;
        return n;
    };
    const std::vector<MessageId> first(ids.begin(), ids.begin() + 200);
    ASSERT_TRUE(store->DeleteMessages(1, first).ok());
    EXPECT_EQ(fileCount(), 300u);
    {
        LetGoRemover remover(disk, dir.string());
        // Held off, it takes nothing however long it waits.
        remover.AllowFor(std::chrono::milliseconds(0));
        remover.Add(store->TakeLetGoFiles());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(fileCount(), 300u);
        EXPECT_FALSE(remover.Idle());
        remover.AllowFor(std::chrono::seconds(60));
        // Changes of this process get the lock while the remover works.
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(store->MarkRead(1, {ids[250]}, i % 2 == 0).ok());
        while (!remover.Idle())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::vector<uint64_t> done = remover.TakeDone();
        EXPECT_EQ(done.size(), 200u);
        ASSERT_TRUE(store->ForgetLetGoFiles(done, 0).ok());
    }
    EXPECT_EQ(fileCount(), 100u);
    // The first deleted file put back by hand is kept by every later step.
    const std::string back = (dir / detail::MessageFilePath(1)).string();
    std::FILE* out = std::fopen(back.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(sources[0].data(), 1, sources[0].size(), out);
    std::fclose(out);
    // A session closed before its remover ran: the next open removes the rest.
    ASSERT_TRUE(store->DeleteMessages(1, {ids[200], ids[201]}).ok());
    store.reset();
    OpenOptions plain = o;
    plain.removeLetGoFilesLater = false;
    ASSERT_TRUE(Store::Open(dir.string(), plain, &store).ok());
    EXPECT_EQ(fileCount(), 99u);
    EXPECT_TRUE(fsys::exists(back));
    CheckReport report;
    ASSERT_TRUE(Store::Check(dir.string(), &disk, &report).ok());
    EXPECT_EQ(report.waitingRemoval, 0u);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_THAT(report.problems[0], HasSubstr("no record names it"));
    store.reset();
    fsys::remove_all(dir);
}

// While its owner says it is busy the remover leaves the files alone; then
// it goes on.
TEST(StoreLetGoFiles, RemoverWaitsWhileItsOwnerIsBusy) {
    namespace fsys = std::filesystem;
    const fsys::path dir =
        fsys::temp_directory_path() / ("letgo-busy-" + std::to_string(std::random_device()()));
    fsys::remove_all(dir);
    FileSystem& disk = DefaultFileSystem();
    OpenOptions o = Options(&disk);
    o.removeLetGoFilesLater = true;
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open(dir.string(), o, &store).ok());
    std::vector<ImportItem> items(3);
    const std::string source = MakeMessage(1);
    for (ImportItem& item : items)
        item.source = source;
    std::vector<MessageId> ids;
    ASSERT_TRUE(store->ImportMessages(1, items, &ids).ok());
    ASSERT_TRUE(store->DeleteMessages(1, ids).ok());
    std::atomic<bool> busy{true};
    {
        LetGoRemover remover(disk, dir.string(), [&busy] { return busy.load(); });
        remover.Add(store->TakeLetGoFiles());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(remover.TakeDone().empty());
        EXPECT_FALSE(remover.Idle());
        busy = false;
        for (int i = 0; i < 5000 && !remover.Idle(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(remover.TakeDone().size(), 3u);
    }
    store.reset();
    fsys::remove_all(dir);
}

TEST(StoreFormats, StoresWrittenBeforeChecksumsStillOpen) {
    MemFs fs;
    // The records hold what the headers say, as every store wrote them.
    const std::string one = "Subject: old 1\r\n\r\nfirst\r\n",
                      two = "Subject: old 2\r\n\r\nsecond\r\n";
    std::string snap;
    detail::Encoder e(&snap);
    for (uint32_t v : {0x3153534Du, 1u})
        e.U32(v);
    e.U64(1); // generation
    e.U64(0); // last change
    e.U32(6); // next folder id
    e.U32(2); // next message id
    e.U64(2); // next file number
    e.U32(5);
    const char* const names[] = {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"};
    for (int32_t type = 0; type < 5; ++type) {
        e.U32(static_cast<uint32_t>(type + 1));
        e.U32(kRootFolder);
        e.I32(type);
        e.Str(names[type]);
        e.U32(type == 0 ? 1 : 0);
        if (type == 0)
            EncodeOldMessage(e, 1, 1, one.size());
    }
    e.U64(detail::Checksum64(snap.data(), snap.size()));
    std::string tx;
    detail::Encoder t(&tx);
    t.U64(1); // change number
    t.U32(1); // one step
    t.U8(5);  // add messages, first form
    t.U32(1); // Inbox
    t.U32(1);
    EncodeOldMessage(t, 2, 2, two.size());
    std::string journal = detail::EncodeJournalHeader(1);
    detail::AppendRecord(tx, &journal);
    fs.CreateDir("/s");
    fs.CreateDir("/s/messages");
    for (const auto& [path, bytes] : {std::pair<std::string, std::string>{"/s/snapshot.bin", snap},
                                      {"/s/journal.bin", journal},
                                      {"/s/messages/0000000000000001.eml", one},
                                      {"/s/messages/0000000000000002.eml", two}}) {
        std::unique_ptr<File> f;
        ASSERT_TRUE(fs.Open(path, OpenMode::CreateNew, &f).ok());
        ASSERT_TRUE(f->WriteAt(0, bytes.data(), bytes.size()).ok());
    }
    std::unique_ptr<Store> store;
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &store).ok());
    MessageInfo info;
    ASSERT_TRUE(store->GetMessageInfo(1, 2, &info).ok());
    EXPECT_EQ(info.subject, "old 2");
    CheckReport report;
    ASSERT_TRUE(Store::Check("/s", &fs, &report).ok());
    EXPECT_TRUE(report.clean()) << (report.problems.empty() ? "" : report.problems[0]);
    MessageId id = 0;
    ASSERT_TRUE(store->ImportMessage(1, MakeMessage(3), &id).ok());
    ASSERT_TRUE(store->Compact().ok());
    store.reset();
    ASSERT_TRUE(Store::Open("/s", Options(&fs, false), &store).ok());
    EXPECT_THAT(Dump(*store), HasSubstr("old 1"));
    // Compaction moved the old files into the sub-directories.
    EXPECT_EQ(fs.FilesUnder("/s/messages"),
              (std::vector<std::string>{"/s/messages/00/00/0000000000000001.eml",
                                        "/s/messages/00/00/0000000000000002.eml",
                                        "/s/messages/00/00/0000000000000003.eml"}));
    // The new message has a checksum now: a change in place shows.
    (*fs.Content("/s/messages/00/00/0000000000000003.eml"))[5] ^= 1;
    ASSERT_TRUE(Store::Check("/s", &fs, &report).ok());
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_THAT(report.problems[0], HasSubstr("0000000000000003.eml: changed in place"));
}

TEST(StoreOnDisk, RoundTripAndDamageReport) {
    namespace fsys = std::filesystem;
    const fsys::path dir =
        fsys::temp_directory_path() /
        ("mailstore-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + std::to_string(std::rand()));
    fsys::remove_all(dir);
    OpenOptions o;
    o.create = true;
    {
        std::unique_ptr<Store> s;
        ASSERT_TRUE(Store::Open(dir.string(), o, &s).ok());
        FolderId f = 0;
        ASSERT_TRUE(s->CreateFolder(kRootFolder, "Ünïcödé", &f).ok());
        ASSERT_TRUE(s->ImportMessage(f, MakeMessage(1), nullptr).ok());
        ASSERT_TRUE(s->ImportMessage(f, MakeMessage(2), nullptr).ok());
    }
    o.create = false;
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(dir.string(), o, &s).ok());
    FolderId f = 0;
    ASSERT_TRUE(s->FindFolderByPath("Ünïcödé", &f).ok());
    FolderInfo fi;
    ASSERT_TRUE(s->GetFolder(f, &fi).ok());
    EXPECT_EQ(fi.messageCount, 2u);
    s.reset();
    // Damage inside the first record: refused, naming the file and the offset.
    {
        std::FILE* j = std::fopen((dir / "journal.bin").string().c_str(), "r+b");
        ASSERT_NE(j, nullptr);
        std::fseek(j, 60, SEEK_SET);
        std::fputc('#', j);
        std::fclose(j);
    }
    Status st = Store::Open(dir.string(), o, &s);
    EXPECT_EQ(st.code(), ErrorCode::Corrupt);
    EXPECT_THAT(st.message(), HasSubstr("journal.bin"));
    EXPECT_THAT(st.message(), HasSubstr("offset 24"));
    CheckReport report;
    ASSERT_TRUE(Store::Check(dir.string(), nullptr, &report).ok());
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(Store::Open((dir / "missing").string(), o, &s).code(), ErrorCode::NotAStore);
    fsys::remove_all(dir);
}

// On the platform's own file system: a directory where the snapshot or the
// journal belongs is named by open and check, and recover moves it aside.
TEST(StoreOnDisk, DirectoryInPlaceOfAStoreFileIsNamedAndMovedAside) {
    namespace fsys = std::filesystem;
    for (const char* name : {"snapshot.bin", "journal.bin"}) {
        const fsys::path dir =
            fsys::temp_directory_path() / ("mailstore-blocked-" + std::to_string(std::rand()));
        fsys::remove_all(dir);
        OpenOptions o;
        o.create = true;
        std::unique_ptr<Store> s;
        ASSERT_TRUE(Store::Open(dir.string(), o, &s).ok());
        ASSERT_TRUE(s->ImportMessage(1, MakeMessage(1), nullptr).ok());
        s.reset();
        fsys::remove(dir / name);
        fsys::create_directories(dir / name / "inside");
        o.create = false;
        Status st = Store::Open(dir.string(), o, &s);
        EXPECT_THAT(st.message(), HasSubstr(std::string(name) + ": a directory")) << name;
        RecoverReport rr;
        ASSERT_TRUE(Store::Recover(dir.string(), nullptr, &rr).ok()) << name;
        EXPECT_TRUE(fsys::is_directory(dir / (std::string(name) + ".blocked") / "inside"));
        CheckReport report;
        ASSERT_TRUE(Store::Check(dir.string(), nullptr, &report).ok());
        EXPECT_TRUE(report.clean()) << name << (report.problems.empty() ? "" : report.problems[0]);
        ASSERT_TRUE(Store::Open(dir.string(), o, &s).ok());
        EXPECT_TRUE(s->ImportMessage(1, MakeMessage(2), nullptr).ok());
        s.reset();
        fsys::remove_all(dir);
    }
}

// Two store objects on one real directory: on Windows this is where sharing
// rules bite (files deleted or replaced while another handle has them open).
TEST(StoreOnDisk, TwoStoresShareADirectory) {
    namespace fsys = std::filesystem;
    const fsys::path dir =
        fsys::temp_directory_path() / ("mailstore-share-" + std::to_string(std::rand()));
    fsys::remove_all(dir);
    OpenOptions o;
    o.create = true;
    std::unique_ptr<Store> a, b;
    ASSERT_TRUE(Store::Open(dir.string(), o, &a).ok());
    ASSERT_TRUE(Store::Open(dir.string(), o, &b).ok());
    MessageId id = 0;
    ASSERT_TRUE(a->ImportMessage(1, MakeMessage(1, 200000), &id).ok());
    ASSERT_TRUE(b->Refresh().ok());
    std::unique_ptr<MessageReader> reader;
    ASSERT_TRUE(b->OpenMessageSource(1, id, &reader).ok());
    // The other store deletes the message and compacts while the source is open.
    ASSERT_TRUE(a->DeleteMessages(1, {id}).ok());
    ASSERT_TRUE(a->Compact().ok());
    MessageId id2 = 0;
    ASSERT_TRUE(a->ImportMessage(1, MakeMessage(2), &id2).ok());
    std::string head(100, '\0');
    size_t got = 0;
    ASSERT_TRUE(reader->ReadAt(0, head.data(), head.size(), &got).ok());
    EXPECT_EQ(head, MakeMessage(1, 200000).substr(0, 100));
    reader.reset();
    bool changed = false;
    ASSERT_TRUE(b->Refresh(&changed).ok());
    EXPECT_TRUE(changed);
    EXPECT_EQ(Dump(*b), Dump(*a));
    // And the other way round, with the journal b started after a's compaction.
    ASSERT_TRUE(b->MarkRead(1, {id2}, true).ok());
    ASSERT_TRUE(b->Compact().ok());
    ASSERT_TRUE(a->CreateFolder(kRootFolder, "After", nullptr).ok());
    ASSERT_TRUE(b->Refresh().ok());
    EXPECT_EQ(Dump(*b), Dump(*a));
    a.reset();
    b.reset();
    CheckReport report;
    ASSERT_TRUE(Store::Check(dir.string(), nullptr, &report).ok());
    EXPECT_TRUE(report.ok);
    EXPECT_EQ(report.orphanFiles, 0u);
    fsys::remove_all(dir);
}

// The real disk, where a flush of the file whose name ends in `failing` fails. Files are
// flushed and read on several threads, so `open` counts the files open now.
class FailingFlushFs : public FileSystem {
  public:
    std::string failing;
    std::atomic<int> open{0};

    Status Open(const std::string& path, OpenMode mode, std::unique_ptr<File>* out,
                bool* missing) override {
        std::unique_ptr<File> f;
        Status s = real_.Open(path, mode, &f, missing);
        if (s.ok())
            *out = std::make_unique<Counted>(std::move(f), EndsWith(path, failing), &open);
        return s;
    }
    Status Rename(const std::string& a, const std::string& b) override {
        return real_.Rename(a, b);
    }
    Status Remove(const std::string& p) override { return real_.Remove(p); }
    bool Exists(const std::string& p) override { return real_.Exists(p); }
    Status CreateDir(const std::string& p) override { return real_.CreateDir(p); }
    Status ListDir(const std::string& p, std::vector<std::string>* n) override {
        return real_.ListDir(p, n);
    }
    Status SyncDir(const std::string& p) override { return real_.SyncDir(p); }
    Status Lock(const std::string& p, unsigned ms, std::unique_ptr<FileLock>* out) override {
        return real_.Lock(p, ms, out);
    }
    bool FilesInParallel() const override { return true; }

  private:
    static bool EndsWith(const std::string& s, const std::string& end) {
        return !end.empty() && s.size() >= end.size() &&
               s.compare(s.size() - end.size(), end.size(), end) == 0;
    }

    class Counted : public File {
      public:
        Counted(std::unique_ptr<File> f, bool fails, std::atomic<int>* open)
            : f_(std::move(f)), fails_(fails), open_(*open) {
            ++open_;
        }
        ~Counted() override { --open_; }
        Status ReadAt(uint64_t o, void* b, size_t n, size_t* got) override {
            return f_->ReadAt(o, b, n, got);
        }
        Status WriteAt(uint64_t o, const void* b, size_t n) override {
            return f_->WriteAt(o, b, n);
        }
        Status Flush() override {
            return fails_ ? Status(ErrorCode::Io, "flush failed") : f_->Flush();
        }
        Status Size(uint64_t* size) override { return f_->Size(size); }
        Status Truncate(uint64_t size) override { return f_->Truncate(size); }

      private:
        std::unique_ptr<File> f_;
        bool fails_;
        std::atomic<int>& open_;
    };
    FileSystem& real_ = DefaultFileSystem();
};

// Message files are flushed and checked several at once on a real disk: one
// failed flush among them commits nothing and leaves no file open or behind,
// and check reports damaged files in the order of their messages.
TEST(StoreOnDisk, FilesFlushedAndCheckedSeveralAtOnce) {
    namespace fsys = std::filesystem;
    const fsys::path dir =
        fsys::temp_directory_path() / ("mailstore-lanes-" + std::to_string(std::rand()));
    fsys::remove_all(dir);
    FailingFlushFs fs;
    OpenOptions o;
    o.fs = &fs;
    o.create = true;
    std::unique_ptr<Store> s;
    ASSERT_TRUE(Store::Open(dir.string(), o, &s).ok());
    std::vector<std::string> sources;
    for (int n = 0; n < 30; ++n)
        sources.push_back(MakeMessage(n));
    std::vector<ImportItem> items(sources.size());
    for (size_t i = 0; i < items.size(); ++i)
        items[i].source = sources[i];
    fs.failing = "/0000000000000009.eml";
    std::vector<MessageId> ids;
    EXPECT_EQ(s->ImportMessages(1, items, &ids).code(), ErrorCode::Io);
    EXPECT_EQ(fs.open.load(), 0);
    std::vector<MessageId> listed;
    ASSERT_TRUE(s->GetMessageIds(1, &listed).ok());
    EXPECT_TRUE(listed.empty());
    size_t files = 0;
    for (const auto& e : fsys::recursive_directory_iterator(dir / "messages"))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 0u);

    fs.failing.clear();
    ASSERT_TRUE(s->ImportMessages(1, items, &ids).ok());
    EXPECT_EQ(fs.open.load(), 0);
    s.reset();
    std::vector<fsys::path> names;
    for (const auto& e : fsys::recursive_directory_iterator(dir / "messages")) {
        if (e.is_regular_file())
            names.push_back(e.path());
    }
    ASSERT_EQ(names.size(), items.size());
    std::sort(names.begin(), names.end()); // numbered in the order of their messages
    fsys::resize_file(names[25], 3);
    fsys::resize_file(names[6], 3);
    CheckReport report;
    ASSERT_TRUE(Store::Check(dir.string(), &fs, &report).ok());
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_THAT(report.problems[0], HasSubstr(names[6].filename().string() + ": cut short"));
    EXPECT_THAT(report.problems[1], HasSubstr(names[25].filename().string() + ": cut short"));
    EXPECT_EQ(report.messages, items.size());
    EXPECT_EQ(fs.open.load(), 0);
    fsys::remove_all(dir);
}

} // namespace
} // namespace mailstore::testing
