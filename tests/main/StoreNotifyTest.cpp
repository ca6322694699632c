// The store's notifications in the real window on the store double: log
// lines, rows inserted, deleted and re-imaged, and the tree rebuilt.
#include "storeui/FolderTree.h"
#include "MainUnitTestSupport.h"
#include "main/views/MessageRows.h"

#include <gmock/gmock.h>

#include <atomic>
#include <deque>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace maintest {
namespace {

class StoreNotifyTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        // Inbox (1) holds 11; Archive (2) has a sub-folder Projects (4) with one
        // of its own, Old (6); Trash (3) is top-level.
        store_->AddMessage(1, storedouble::Message(12, "Bob Example", "Second"))
            .AddMessage(1, storedouble::Message(13, "Carol Example", "Third"));
        store_->AddFolder(3, 0, "Trash", FOLDER_DELETED)
            .AddFolder(4, 2, "Projects")
            .AddFolder(6, 4, "Old");
    }
    void StartAndMark() {
        Start();
        logMark_ = Lines().size();
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string text = window_->LogText();
        for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    // Lines logged since StartAndMark.
    std::vector<std::string> NewLines() const {
        std::vector<std::string> lines = Lines();
        return {lines.begin() + static_cast<std::ptrdiff_t>(logMark_), lines.end()};
    }
    std::vector<MESSAGEID> RowIds() {
        std::vector<MESSAGEID> ids;
        for (size_t i = 0; i < window_->Rows().Count(); ++i)
            ids.push_back(window_->Rows().At(i).id);
        return ids;
    }
    std::vector<int> RowImages() {
        std::vector<int> images;
        for (size_t i = 0; i < window_->Rows().Count(); ++i)
            images.push_back(window_->Rows().At(i).image);
        return images;
    }
    void ExpectListMatchesRows() {
        EXPECT_EQ(
            static_cast<size_t>(SendMessageW(window_->ListViewMessages(), LVM_GETITEMCOUNT, 0, 0)),
            window_->Rows().Count());
    }
    HWND Tree() const { return window_->TreeViewFolders(); }
    STOREFOLDERID SelectedId() const {
        HTREEITEM node = TreeView_GetSelection(Tree());
        return node ? folder_tree::NodeId(Tree(), node) : 0xFFFFFFFFu;
    }
    void Select(STOREFOLDERID id) {
        window_->RebuildTree(id);
        ASSERT_EQ(SelectedId(), id);
    }
    std::vector<STOREFOLDERID> TreeIds(HTREEITEM node = nullptr, bool top = true) const {
        std::vector<STOREFOLDERID> ids;
        for (node = top ? TreeView_GetRoot(Tree()) : node; node;
             node = TreeView_GetNextSibling(Tree(), node)) {
            ids.push_back(folder_tree::NodeId(Tree(), node));
            if (HTREEITEM child = TreeView_GetChild(Tree(), node)) {
                std::vector<STOREFOLDERID> below = TreeIds(child, false);
                ids.insert(ids.end(), below.begin(), below.end());
            }
        }
        return ids;
    }

  public:
    int Freed() const { return store_->FolderNotifiesFreed(); }
    std::string Log() const { return window_->LogText(); }

  protected:
    size_t logMark_ = 0;
};

// ---- Messages -------------------------------------------------------------------------

TEST_F(StoreNotifyTest, NewMessageLandsAfterItsPredecessorsRowWhateverChangedBefore) {
    StartAndMark();
    ASSERT_THAT(RowIds(), ElementsAre(11u, 12u, 13u));
    // A message the store puts first goes to the top.
    store_->AddMessage(1, storedouble::Message(15, "Erin Example", "First now"), 0);
    store_->NotifyNewMessage(1, 15);
    EXPECT_THAT(RowIds(), ElementsAre(15u, 11u, 12u, 13u));
    store_->RemoveMessage(1, 12);
    store_->NotifyDeleteMessage(1, 12);
    EXPECT_THAT(RowIds(), ElementsAre(15u, 11u, 13u));
    // Enumerated third, after 11: directly after 11's row.
    store_->AddMessage(1, storedouble::Message(14, "Frank Example", "In between", MSGSTATE_UNREAD),
                       2);
    ASSERT_THAT(store_->MessageIds(1), ElementsAre(15u, 11u, 14u, 13u));
    store_->NotifyNewMessage(1, 14);
    EXPECT_THAT(RowIds(), ElementsAre(15u, 11u, 14u, 13u));
    EXPECT_EQ(window_->Rows().At(2).image, 1);
    EXPECT_EQ(window_->Rows().At(2).subject, L"In between");
    ExpectListMatchesRows();
    EXPECT_THAT(NewLines(),
                ElementsAre("NEWMSGS MsgId=15", "DELETEMSGS MsgId=12", "NEWMSGS MsgId=14"));
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
}

TEST_F(StoreNotifyTest, NewMessageWhosePredecessorHasNoRowGoesToTheTop) {
    StartAndMark();
    // 20 is in the store but has no row (its notification never came).
    store_->AddMessage(1, storedouble::Message(20, "Gina Example", "Unseen"));
    store_->AddMessage(1, storedouble::Message(21, "Hank Example", "After unseen"));
    store_->NotifyNewMessage(1, 21);
    EXPECT_THAT(RowIds(), ElementsAre(21u, 11u, 12u, 13u));
    // An id the store never enumerates logs and adds nothing.
    store_->NotifyNewMessage(1, 99);
    EXPECT_THAT(RowIds(), ElementsAre(21u, 11u, 12u, 13u));
    EXPECT_THAT(NewLines(), ElementsAre("NEWMSGS MsgId=21", "NEWMSGS MsgId=99"));
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
}

TEST_F(StoreNotifyTest, NewMessageForAnIdWithARowAddsASecondRow) {
    StartAndMark();
    store_->NotifyNewMessage(1, 12);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 12u, 13u));
    // Later notifications for that id reach only the first of the two rows.
    MESSAGEID id = 12;
    SendMessageW(window_->Handle(), WM_MARKEDASUNREAD, reinterpret_cast<WPARAM>(&id), 0);
    EXPECT_THAT(RowImages(), ElementsAre(1, 1, 0, 0));
    store_->NotifyDeleteMessage(1, 12);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u));
    ExpectListMatchesRows();
}

TEST_F(StoreNotifyTest, WaitingNewMessagesComeOutAsIfHandledOneByOne) {
    StartAndMark();
    store_->AddMessage(1, storedouble::Message(20, "Kim Example", "Top"), 0)
        .AddMessage(1, storedouble::Message(21, "Lee Example", "After top"), 1)
        .AddMessage(1, storedouble::Message(23, "Max Example", "Middle"), 3)
        .AddMessage(1, storedouble::Message(22, "Ned Example", "Last"));
    ASSERT_THAT(store_->MessageIds(1), ElementsAre(20u, 21u, 11u, 23u, 12u, 13u, 22u));
    int enumerationsBefore = store_->CountCalls("GetFirstMessage");
    HWND hwnd = window_->Handle();
    // 21 before 20 (no row yet), an unknown id, and 21 a second time.
    for (MESSAGEID id : {21u, 20u, 23u, 99u, 21u, 22u})
        ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, id, 0));
    PumpUntilIdle(0);
    EXPECT_THAT(RowIds(), ElementsAre(20u, 21u, 21u, 11u, 23u, 12u, 13u, 22u));
    EXPECT_THAT(NewLines(),
                ElementsAre("NEWMSGS MsgId=21", "NEWMSGS MsgId=20", "NEWMSGS MsgId=23",
                            "NEWMSGS MsgId=99", "NEWMSGS MsgId=21", "NEWMSGS MsgId=22"));
    // One walk placed them all, after a look from the last row that found
    // another message there and so proved nothing.
    EXPECT_EQ(store_->CountCalls("GetFirstMessage") - enumerationsBefore, 2);
    ExpectListMatchesRows();
    EXPECT_EQ(store_->OutstandingMessageProps(), 0);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
}

TEST_F(StoreNotifyTest, AnotherMessageBetweenNewMessagesEndsTheirBatch) {
    StartAndMark();
    store_->AddMessage(1, storedouble::Message(20, "Kim Example", "One"));
    store_->AddMessage(1, storedouble::Message(21, "Lee Example", "Two"));
    store_->RemoveMessage(1, 11);
    static MESSAGEID deleted = 11;
    HWND hwnd = window_->Handle();
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 20, 0));
    ASSERT_TRUE(PostMessageW(hwnd, WM_DELETEMSGS, reinterpret_cast<WPARAM>(&deleted), 0));
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 21, 0));
    PumpUntilIdle(0);
    EXPECT_THAT(NewLines(),
                ElementsAre("NEWMSGS MsgId=20", "DELETEMSGS MsgId=11", "NEWMSGS MsgId=21"));
    EXPECT_THAT(RowIds(), ElementsAre(12u, 13u, 20u, 21u));
    ExpectListMatchesRows();
}

// A folder-change record as the server posts it; the window frees it.
LPARAM FolderRecord(DWORD type, STOREFOLDERID idOld, STOREFOLDERID idNew) {
    auto* record = static_cast<FOLDERNOTIFY*>(CoTaskMemAlloc(sizeof(FOLDERNOTIFY)));
    if (!record)
        throw std::bad_alloc();
    *record = {type, idOld, idNew};
    return reinterpret_cast<LPARAM>(record);
}

// The folder changes that reach the window's own procedure, seen by a
// subclass put on as the window is created: before the router's, so it runs
// after it.
class PassedOnSpy {
  public:
    PassedOnSpy() : hook_(SetWindowsHookExW(WH_CBT, &OnCbt, nullptr, GetCurrentThreadId())) {
        current_ = this;
    }
    ~PassedOnSpy() {
        UnhookWindowsHookEx(hook_);
        current_ = nullptr;
    }
    PassedOnSpy(const PassedOnSpy&) = delete;
    PassedOnSpy& operator=(const PassedOnSpy&) = delete;

    std::vector<LPARAM> folderChanges; // each one's record, as passed on

  private:
    static LRESULT CALLBACK OnCbt(int code, WPARAM wParam, LPARAM lParam) {
        wchar_t name[64] = {};
        auto hwnd = reinterpret_cast<HWND>(wParam);
        if (code == HCBT_CREATEWND && current_ && GetClassNameW(hwnd, name, 64) &&
            std::wstring(name) == TBrisvanderMain::kClassName)
            SetWindowSubclass(hwnd, &Spy, 1, reinterpret_cast<DWORD_PTR>(current_));
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK Spy(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                DWORD_PTR self) {
        if (message == WM_FOLDERNOTIFY)
            reinterpret_cast<PassedOnSpy*>(self)->folderChanges.push_back(lParam);
        if (message == WM_NCDESTROY)
            RemoveWindowSubclass(hwnd, &Spy, 1);
        return DefSubclassProc(hwnd, message, wParam, lParam);
    }

    static inline PassedOnSpy* current_ = nullptr;
    HHOOK hook_;
};

TEST_F(StoreNotifyTest, ABatchCarriesOnOverFolderChangesThatNeedNoActionAndEndsAtOthers) {
    PassedOnSpy passedOn;
    StartAndMark();
    for (MESSAGEID id : {20u, 21u, 22u, 23u})
        store_->AddMessage(1, storedouble::Message(id, "Kim Example", "New"));
    store_->ClearCalls();
    HWND hwnd = window_->Handle();
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 20, 0));
    ASSERT_TRUE(PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, FolderRecord(UNREAD_CHANGE, 0, 1)));
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 21, 0));
    ASSERT_TRUE(PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, FolderRecord(FOLDER_PROPS_CHANGED, 0, 1)));
    ASSERT_TRUE(PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, FolderRecord(IMAPFLAG_CHANGE, 0, 1)));
    ASSERT_TRUE(PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, FolderRecord(UPDATEFLAG_CHANGE, 0, 1)));
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 22, 0));
    // A rename may change the open folder: the next walk comes after it.
    ASSERT_TRUE(PostMessageW(hwnd, WM_FOLDERNOTIFY, 0, FolderRecord(RENAME_FOLDER, 0, 2)));
    ASSERT_TRUE(PostMessageW(hwnd, WM_NEWMSGS, 23, 0));
    PumpUntilIdle(0);
    EXPECT_THAT(NewLines(),
                ElementsAre("NEWMSGS MsgId=20", "UNREAD_CHANGE idFolderOld=0 idFolderNew=1",
                            "NEWMSGS MsgId=21", "FOLDER_PROPS_CHANGED idFolderOld=0 idFolderNew=1",
                            "IMAPFLAG_CHANGE idFolderOld=0 idFolderNew=1",
                            "UPDATEFLAG_CHANGE idFolderOld=0 idFolderNew=1", "NEWMSGS MsgId=22",
                            "RENAME_FOLDER idFolderOld=0 idFolderNew=2", "NEWMSGS MsgId=23"));
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u, 20u, 21u, 22u, 23u));
    // One walk for the first three; the rename ends the batch.
    EXPECT_EQ(store_->CountCalls("GetFirstMessage"), 2);
    ExpectListMatchesRows();
    // Every message goes on, those taken into a batch too; no freed record with them.
    EXPECT_THAT(passedOn.folderChanges, ElementsAre(0, 0, 0, 0, 0));
}

// Another thread asking the list its row count without pause, as a screen
// reader or a test probe might, until destroyed.
class Poller {
  public:
    explicit Poller(HWND target) : target_(target) {
        thread_ = CreateThread(nullptr, 0, &Poller::Run, this, 0, nullptr);
        while (thread_ && polls_ == 0)
            PumpUntilIdle(0);
    }
    ~Poller() {
        if (thread_) {
            stop_ = true;
            while (WaitForSingleObject(thread_, 10) == WAIT_TIMEOUT)
                PumpUntilIdle(0);
            CloseHandle(thread_);
        }
    }
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;
    bool Started() const { return thread_ != nullptr; }
    int Polls() const { return polls_; }

  private:
    static DWORD WINAPI Run(void* self) {
        auto* poller = static_cast<Poller*>(self);
        while (!poller->stop_) {
            SendMessageW(poller->target_, LVM_GETITEMCOUNT, 0, 0);
            ++poller->polls_;
        }
        return 0;
    }
    HWND target_;
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_ = false;
    std::atomic<int> polls_ = 0;
};

TEST_F(StoreNotifyTest, MessagesSentFromAnotherThreadDoNotBreakABatch) {
    StartAndMark();
    std::vector<MESSAGEID> fresh;
    for (MESSAGEID id = 20; id < 220; ++id) {
        store_->AddMessage(1, storedouble::Message(id, "Kim Example", "New"));
        fresh.push_back(id);
    }
    Poller poller(window_->ListViewMessages());
    ASSERT_TRUE(poller.Started());
    store_->ClearCalls();
    for (MESSAGEID id : fresh)
        ASSERT_TRUE(PostMessageW(window_->Handle(), WM_NEWMSGS, id, 0));
    PumpUntilIdle(0);
    EXPECT_EQ(store_->CountCalls("GetFirstMessage"), 1);
    EXPECT_EQ(window_->Rows().Count(), 3 + fresh.size());
}

LRESULT CALLBACK CountSetItemCount(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR data) {
    if (message == LVM_SETITEMCOUNT)
        ++*reinterpret_cast<int*>(data);
    return DefSubclassProc(list, message, wParam, lParam);
}

// Another thread asking the list between the deletes of a burst gets what the
// view shows; the view learns of the burst once, when it is over.
TEST_F(StoreNotifyTest, QuestionsFromAnotherThreadDuringABurstDoNotMakeTheViewCatchUp) {
    for (MESSAGEID id = 20; id < 120; ++id)
        store_->AddMessage(1, storedouble::Message(id, "Kim Example", "Old"));
    StartAndMark();
    const size_t before = window_->Rows().Count();
    HWND list = window_->ListViewMessages();
    int countsSet = 0;
    SetWindowSubclass(list, CountSetItemCount, 7, reinterpret_cast<DWORD_PTR>(&countsSet));
    {
        Poller poller(list);
        ASSERT_TRUE(poller.Started());
        for (MESSAGEID id = 20; id < 120; ++id) {
            store_->NotifyDeleteMessage(1, id);
            // The poller's next questions are answered before the next delete.
            const int polls = poller.Polls();
            const DWORD deadline = GetTickCount() + 5000;
            while (poller.Polls() < polls + 2 && GetTickCount() < deadline) {
                MsgWaitForMultipleObjectsEx(0, nullptr, 5, QS_SENDMESSAGE, 0);
                MSG ignored;
                PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE);
            }
            ASSERT_GE(poller.Polls(), polls + 2);
        }
        EXPECT_EQ(countsSet, 0);
    }
    PumpUntilIdle(100); // the burst is over: its timer comes
    EXPECT_EQ(countsSet, 1);
    RemoveWindowSubclass(list, CountSetItemCount, 7);
    EXPECT_EQ(window_->Rows().Count(), before - 100);
    EXPECT_EQ(static_cast<size_t>(ListView_GetItemCount(list)), before - 100);
}

TEST_F(StoreNotifyTest, NewIdsAboveTheLastRowOfAnIdOrderedFolderAreWalkedFromThatRow) {
    StartAndMark();
    for (MESSAGEID id : {20u, 21u, 22u})
        store_->AddMessage(1, storedouble::Message(id, "Kim Example", "New"));
    store_->ClearCalls();
    for (MESSAGEID id : {20u, 21u, 22u})
        ASSERT_TRUE(PostMessageW(window_->Handle(), WM_NEWMSGS, id, 0));
    PumpUntilIdle(0);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u, 20u, 21u, 22u));
    // From 13 on: the three new ones, not the folder's first rows.
    EXPECT_EQ(store_->CountCalls("GetFirstMessage"), 1);
    EXPECT_EQ(store_->CountCalls("GetNextMessage"), 3);

    // Out of id order the tool has no proof: it walks from the top.
    store_->AddMessage(1, storedouble::Message(5, "Lee Example", "Low id"));
    store_->NotifyNewMessage(1, 5);
    store_->AddMessage(1, storedouble::Message(30, "Max Example", "High id"));
    store_->ClearCalls();
    store_->NotifyNewMessage(1, 30);
    EXPECT_EQ(store_->CountCalls("GetNextMessage"), 7);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u, 20u, 21u, 22u, 5u, 30u));
}

TEST_F(StoreNotifyTest, NewMessageIdsPrintSignedAndOtherIdsUnsigned) {
    StartAndMark();
    SendMessageW(window_->Handle(), WM_NEWMSGS, static_cast<WPARAM>(0xFFFFFFFEu), 0);
    MESSAGEID big = 0xFFFFFFFEu;
    SendMessageW(window_->Handle(), WM_DELETEMSGS, reinterpret_cast<WPARAM>(&big), 0);
    SendMessageW(window_->Handle(), WM_MARKEDASREAD, reinterpret_cast<WPARAM>(&big), 0);
    EXPECT_THAT(NewLines(), ElementsAre("NEWMSGS MsgId=-2", "DELETEMSGS MsgId=4294967294",
                                        "MARKEDASREAD MsgId=4294967294"));
}

TEST_F(StoreNotifyTest, DeletingAnIdWithoutARowOnlyLogs) {
    StartAndMark();
    store_->NotifyDeleteMessage(1, 77);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u));
    EXPECT_THAT(NewLines(), ElementsAre("DELETEMSGS MsgId=77"));
    ExpectListMatchesRows();
}

TEST_F(StoreNotifyTest, MarkingSetsTheRowImages) {
    StartAndMark();
    ASSERT_THAT(RowImages(), ElementsAre(1, 0, 0));
    store_->NotifyMarked(1, true, 11);
    EXPECT_THAT(RowImages(), ElementsAre(0, 0, 0));
    store_->NotifyMarked(1, false, 13);
    EXPECT_THAT(RowImages(), ElementsAre(0, 0, 1));
    // All messages: every row, also those that already had the image.
    store_->NotifyMarked(1, false);
    EXPECT_THAT(RowImages(), ElementsAre(1, 1, 1));
    store_->NotifyMarked(1, true);
    EXPECT_THAT(RowImages(), ElementsAre(0, 0, 0));
    store_->NotifyMarked(1, true, 55);
    EXPECT_THAT(RowImages(), ElementsAre(0, 0, 0));
    EXPECT_THAT(NewLines(),
                ElementsAre("MARKEDASREAD MsgId=11", "MARKEDASUNREAD MsgId=13",
                            "MARKEDASUNREAD All messages in the folder",
                            "MARKEDASREAD All messages in the folder", "MARKEDASREAD MsgId=55"));
}

// ---- Folders -----------------------------------------------------------------------------

TEST_F(StoreNotifyTest, FolderChangeLinesNameTheTypeAndEndWithBothIds) {
    StartAndMark();
    int rebuildsBefore = store_->CountCalls("GetFirstSubFolder");
    for (DWORD type = 5; type <= 9; ++type)
        store_->NotifyFolder(type, 7, 0xFFFFFFF0u);
    EXPECT_THAT(NewLines(), ElementsAre("UNREAD_CHANGE idFolderOld=7 idFolderNew=4294967280",
                                        "IMAPFLAG_CHANGE idFolderOld=7 idFolderNew=4294967280",
                                        "UPDATEFLAG_CHANGE idFolderOld=7 idFolderNew=4294967280",
                                        "FOLDER_PROPS_CHANGED idFolderOld=7 idFolderNew=4294967280",
                                        " idFolderOld=7 idFolderNew=4294967280"));
    // None of these types rebuilds the tree.
    EXPECT_EQ(store_->CountCalls("GetFirstSubFolder"), rebuildsBefore);
}

TEST_F(StoreNotifyTest, EveryFolderRecordIsFreedOnce) {
    StartAndMark();
    // The double counts frees over the whole program run.
    int freedBefore = store_->FolderNotifiesFreed();
    for (DWORD type : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 0u})
        store_->NotifyFolder(type, 0, 99);
    EXPECT_EQ(store_->FolderNotifiesSent(), 10);
    EXPECT_EQ(store_->FolderNotifiesFreed() - freedBefore, 10);
}

TEST_F(StoreNotifyTest, NewRenamedAndMovedFoldersRebuildAroundTheSelection) {
    StartAndMark();
    Select(4);
    store_->ClearCalls();
    store_->AddFolder(5, 0, "Receipts");
    store_->NotifyFolder(NEW_FOLDER, 0, 5);
    EXPECT_THAT(TreeIds(), ElementsAre(1u, 2u, 4u, 6u, 3u, 5u));
    EXPECT_EQ(SelectedId(), 4u);
    store_->RenameFolderTo(5, "Bills");
    store_->NotifyFolder(RENAME_FOLDER, 5, 5);
    store_->MoveFolderTo(5, 6);
    store_->NotifyFolder(MOVE_FOLDER, 5, 5);
    EXPECT_THAT(TreeIds(), ElementsAre(1u, 2u, 4u, 6u, 5u, 3u));
    EXPECT_EQ(SelectedId(), 4u);
    // The current folder stays loaded: nothing was opened again.
    EXPECT_EQ(store_->CountCalls("OpenFolder"), 0);
    EXPECT_EQ(window_->CurrentFolderId(), 4u);
}

// What the log and the record looked like when the rebuild put in the new node.
struct AtRebuild {
    const StoreNotifyTest* test = nullptr;
    std::string log;
    int freed = -1;
};

LRESULT CALLBACK WatchRebuild(HWND tree, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                              DWORD_PTR data) {
    auto* seen = reinterpret_cast<AtRebuild*>(data);
    if (message == TVM_INSERTITEMW && seen->freed < 0)
        seen->freed = seen->test->Freed(), seen->log = seen->test->Log();
    return DefSubclassProc(tree, message, wParam, lParam);
}

TEST_F(StoreNotifyTest, FolderChangeActsFirstThenFreesThenLogs) {
    StartAndMark();
    store_->AddFolder(5, 0, "Receipts");
    AtRebuild seen;
    seen.test = this;
    int freedBefore = store_->FolderNotifiesFreed();
    SetWindowSubclass(Tree(), WatchRebuild, 1, reinterpret_cast<DWORD_PTR>(&seen));
    store_->NotifyFolder(NEW_FOLDER, 0, 5);
    RemoveWindowSubclass(Tree(), WatchRebuild, 1);
    EXPECT_EQ(seen.freed, freedBefore);
    EXPECT_EQ(seen.log.find("NEW_FOLDER"), std::string::npos);
    EXPECT_EQ(store_->FolderNotifiesFreed(), freedBefore + 1);
    EXPECT_THAT(NewLines(), ElementsAre("NEW_FOLDER idFolderOld=0 idFolderNew=5"));
}

TEST_F(StoreNotifyTest, UnreadChangeLeavesThePanelAlone) {
    StartAndMark();
    ASSERT_EQ(WindowText(window_->Panel().LabelcUnread()), L"1");
    store_->SetMessageState(1, 12, MSGSTATE_UNREAD);
    store_->NotifyFolder(UNREAD_CHANGE, 1, 1);
    EXPECT_EQ(WindowText(window_->Panel().LabelcUnread()), L"1");
}

TEST_F(StoreNotifyTest, DeletingAnUnselectedFolderKeepsTheSelection) {
    StartAndMark();
    Select(4);
    store_->RemoveFolder(3);
    store_->NotifyFolder(DELETE_FOLDER, 0, 3);
    EXPECT_EQ(SelectedId(), 4u);
    EXPECT_EQ(window_->CurrentFolderId(), 4u);
    EXPECT_THAT(TreeIds(), ElementsAre(1u, 2u, 4u, 6u));
    EXPECT_THAT(NewLines(), ElementsAre("DELETE_FOLDER idFolderOld=0 idFolderNew=3"));
}

TEST_F(StoreNotifyTest, DeletingTheSelectedFolderSelectsAndLoadsItsParent) {
    store_->AddMessage(2, storedouble::Message(21, "Ida Example", "Archived"));
    StartAndMark();
    Select(4);
    store_->RemoveFolder(4);
    store_->NotifyFolder(DELETE_FOLDER, 0, 4);
    EXPECT_EQ(SelectedId(), 2u);
    EXPECT_EQ(window_->CurrentFolderId(), 2u);
    EXPECT_THAT(RowIds(), ElementsAre(21u));
    EXPECT_THAT(TreeIds(), ElementsAre(1u, 2u, 3u));
}

TEST_F(StoreNotifyTest, DeletingTheSelectedTopLevelFolderLoadsTheFirstFolder) {
    StartAndMark();
    Select(3);
    store_->RemoveFolder(3);
    store_->NotifyFolder(DELETE_FOLDER, 0, 3);
    EXPECT_EQ(SelectedId(), 1u);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
    EXPECT_THAT(RowIds(), ElementsAre(11u, 12u, 13u));
}

TEST_F(StoreNotifyTest, AFolderArrivingInAnEmptyTreeIsShownAndLoaded) {
    store_->RemoveFolder(1);
    store_->RemoveFolder(2);
    store_->RemoveFolder(3);
    StartAndMark();
    ASSERT_EQ(TreeView_GetCount(Tree()), 0u);
    store_->AddFolder(8, 0, "Fresh");
    store_->AddMessage(8, storedouble::Message(81, "Jo Example", "Welcome"));
    store_->NotifyFolder(NEW_FOLDER, 0, 8);
    EXPECT_EQ(SelectedId(), 8u);
    EXPECT_EQ(window_->CurrentFolderId(), 8u);
    EXPECT_THAT(RowIds(), ElementsAre(81u));
    // Deleting without a selection does nothing but log.
    store_->RemoveFolder(8);
    window_->RebuildTree(0);
    store_->NotifyFolder(DELETE_FOLDER, 0, 8);
    EXPECT_THAT(NewLines(), ElementsAre("NEW_FOLDER idFolderOld=0 idFolderNew=8",
                                        "DELETE_FOLDER idFolderOld=0 idFolderNew=8"));
}

// ---- Batches against one message at a time ----------------------------------------------

// Random runs of store changes, each followed by its notifications (the store
// always runs ahead of them): handled as they wait in the queue, in batches,
// they must log the same lines and leave the same rows as when each is
// handled on its own. Even seeds keep the folder in id order, odd ones do not.
class NotifyBatchTest : public MainWindowTest {
  protected:
    struct Outcome {
        std::string log;
        std::vector<std::pair<MESSAGEID, int>> rows;
        bool operator==(const Outcome&) const = default;
    };
    struct Note {
        UINT message;
        WPARAM wParam;
        FOLDERNOTIFY folder;
    };

    Outcome Run(unsigned seed, bool batched) {
        window_.reset();
        PumpUntilIdle(0);
        store_ = storedouble::StoreDouble::Create();
        store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX).AddFolder(2, 0, "Archive");
        store_->AddFolder(3, 2, "Old");
        std::mt19937 random(seed);
        const bool idOrder = seed % 2 == 0;
        for (MESSAGEID id = 2; id <= 40; id += 2)
            Add(id, idOrder, random);
        Start();
        std::vector<Note> notes = Changes(idOrder, random);
        HWND hwnd = window_->Handle();
        for (const Note& note : notes) {
            LPARAM record = note.message == WM_FOLDERNOTIFY
                                ? FolderRecord(note.folder.type, note.folder.idFolderOld,
                                               note.folder.idFolderNew)
                                : 0;
            if (batched)
                EXPECT_TRUE(PostMessageW(hwnd, note.message, note.wParam, record));
            else
                SendMessageW(hwnd, note.message, note.wParam, record);
        }
        PumpUntilIdle(0);
        Outcome outcome{window_->LogText(), {}};
        for (size_t i = 0; i < window_->Rows().Count(); ++i)
            outcome.rows.emplace_back(window_->Rows().At(i).id, window_->Rows().At(i).image);
        return outcome;
    }

  private:
    void Add(MESSAGEID id, bool idOrder, std::mt19937& random) {
        size_t count = store_->MessageIds(1).size();
        std::optional<size_t> at;
        if (!idOrder)
            at = random() % (count + 1);
        store_->AddMessage(1, storedouble::Message(id, "Kim Example", "Subject", MSGSTATE_UNREAD),
                           at);
    }
    WPARAM Pointer(MESSAGEID id) {
        ids_.push_back(id);
        return reinterpret_cast<WPARAM>(&ids_.back());
    }
    std::vector<Note> Changes(bool idOrder, std::mt19937& random) {
        std::vector<Note> notes;
        MESSAGEID next = 100, low = 1; // out of id order, new ids below old ones too
        for (int step = 0; step < 40; ++step) {
            std::vector<MESSAGEID> ids = store_->MessageIds(1);
            MESSAGEID some = ids.empty() ? 7 : ids[random() % ids.size()];
            unsigned kind = random() % 10;
            if (kind == 4) {
                // An id notified twice, or never stored.
                notes.push_back({WM_NEWMSGS, random() % 2 ? some : 9999u, {}});
            } else if (kind < 4) {
                MESSAGEID id = !idOrder && low < 40 && random() % 3 == 0 ? (low += 2) - 2 : next++;
                Add(id, idOrder, random);
                notes.push_back({WM_NEWMSGS, id, {}});
            } else if (kind == 5) {
                if (!ids.empty())
                    store_->RemoveMessage(1, some);
                notes.push_back({WM_DELETEMSGS, Pointer(some), {}});
            } else if (kind == 6) {
                bool read = random() % 2;
                WPARAM which = random() % 4 ? Pointer(some) : MARKED_ALL_MESSAGES;
                notes.push_back({read ? WM_MARKEDASREAD : WM_MARKEDASUNREAD, which, {}});
            } else {
                DWORD type = random() % 10; // 0 and 9 are unknown types
                notes.push_back({WM_FOLDERNOTIFY,
                                 0,
                                 {type, random() % 4, static_cast<DWORD>(random() % 3 + 1)}});
            }
        }
        return notes;
    }
    std::deque<MESSAGEID> ids_; // what DELETEMSGS and marks point to
};

TEST_F(NotifyBatchTest, BatchesLogAndPlaceExactlyAsOneAtATime) {
    for (unsigned seed = 0; seed < 24; ++seed) {
        Outcome oneByOne = Run(seed, false);
        Outcome batched = Run(seed, true);
        EXPECT_EQ(batched.log, oneByOne.log) << "seed " << seed;
        EXPECT_EQ(batched.rows, oneByOne.rows) << "seed " << seed;
    }
}

} // namespace
} // namespace maintest
