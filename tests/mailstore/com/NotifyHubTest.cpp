#include "HandleTable.h"
#include "Module.h"
#include "NotifyHub.h"
#include "StoreSession.h"

#include "ComTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using comtest::PumpFor;
using comtest::PumpUntil;
using comtest::Received;
using comtest::RecorderWindow;
using mailstore::ChangeEvent;
using mailstore::EventKind;
using namespace mailstore::com;

namespace {

Notification FolderNote(DWORD type, STOREFOLDERID old, STOREFOLDERID now) {
    Notification n;
    n.message = WM_FOLDERNOTIFY;
    n.record = FOLDERNOTIFY{type, old, now};
    return n;
}

Notification MessageNote(UINT message, STOREFOLDERID folder, MESSAGEID id, bool all = false) {
    Notification n;
    n.message = message;
    n.folder = folder;
    n.id = id;
    n.allMessages = all;
    return n;
}

// True when this thread's queue holds no posted message.
bool NothingPosted() {
    return (HIWORD(GetQueueStatus(QS_POSTMESSAGE)) & QS_POSTMESSAGE) == 0;
}

// A recorder window on a thread of its own, with its own message loop.
class OtherThreadReceiver {
  public:
    OtherThreadReceiver() {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, &OtherThreadReceiver::Run, this, 0, &threadId_);
        if (!thread_ || WaitForSingleObject(ready_, 5000) != WAIT_OBJECT_0) {
            hwnd_ = nullptr;
        }
    }
    OtherThreadReceiver(const OtherThreadReceiver&) = delete;
    OtherThreadReceiver& operator=(const OtherThreadReceiver&) = delete;
    ~OtherThreadReceiver() {
        Finish();
        CloseHandle(ready_);
    }
    HWND hwnd() const { return hwnd_; }
    // Ends the thread's loop; what its window received.
    std::vector<Received> Finish() {
        if (thread_) {
            PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
            WaitForSingleObject(thread_, 5000);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        return received_;
    }

  private:
    static DWORD WINAPI Run(void* param) {
        auto* self = static_cast<OtherThreadReceiver*>(param);
        RecorderWindow window;
        self->hwnd_ = window.hwnd();
        SetEvent(self->ready_);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            DispatchMessageW(&msg);
        }
        self->received_ = window.received;
        return 0;
    }
    HANDLE ready_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HWND hwnd_ = nullptr;
    std::vector<Received> received_;
};

class HubTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hub = NotifyHub::ForCurrentThread();
        ASSERT_NE(hub, nullptr);
    }
    void TearDown() override {
        // A hub left holding storage would keep itself, and the module, alive.
        if (hub) {
            EXPECT_TRUE(PumpUntil([&] { return hub->awaitingRelease() == 0; }, 5000));
        }
    }
    // Runs the loop until everything queued was posted and handled.
    bool Drain() {
        return PumpUntil(
            [&] { return hub->pending() == 0 && hub->awaitingRelease() == 0 && NothingPosted(); },
            5000);
    }
    std::shared_ptr<NotifyHub> hub;
    std::shared_ptr<Listeners> listeners = std::make_shared<Listeners>();
    int owner = 0;
};

} // namespace

TEST(NotificationMapping, EachEngineEventBecomesItsMessages) {
    struct Case {
        ChangeEvent event;
        std::vector<std::pair<UINT, DWORD>> expected; // message, folder-notify type
    };
    auto ev = [](EventKind kind) {
        ChangeEvent e;
        e.kind = kind;
        e.folder = 7;
        e.message = 42;
        e.oldParent = 3;
        e.newParent = 4;
        return e;
    };
    ChangeEvent unread = ev(EventKind::FolderCountsChanged);
    unread.unreadChanged = true;
    const Case cases[] = {
        {ev(EventKind::FolderCreated), {{WM_FOLDERNOTIFY, NEW_FOLDER}}},
        {ev(EventKind::FolderRenamed), {{WM_FOLDERNOTIFY, RENAME_FOLDER}}},
        {ev(EventKind::FolderMoved), {{WM_FOLDERNOTIFY, MOVE_FOLDER}}},
        {ev(EventKind::FolderDeleted), {{WM_FOLDERNOTIFY, DELETE_FOLDER}}},
        {ev(EventKind::MessageAdded), {{WM_NEWMSGS, 0}}},
        {ev(EventKind::MessageDeleted), {{WM_DELETEMSGS, 0}}},
        {ev(EventKind::MessageMarkedRead), {{WM_MARKEDASREAD, 0}}},
        {ev(EventKind::MessageMarkedUnread), {{WM_MARKEDASUNREAD, 0}}},
        {ev(EventKind::MessageFlagChanged), {}},
        {ev(EventKind::FolderCountsChanged), {{WM_FOLDERNOTIFY, FOLDER_PROPS_CHANGED}}},
        {unread, {{WM_FOLDERNOTIFY, UNREAD_CHANGE}, {WM_FOLDERNOTIFY, FOLDER_PROPS_CHANGED}}},
    };
    for (const auto& c : cases) {
        const auto got = NotificationsFor(c.event);
        ASSERT_EQ(got.size(), c.expected.size()) << mailstore::EventKindName(c.event.kind);
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].message, c.expected[i].first);
            if (got[i].message == WM_FOLDERNOTIFY) {
                EXPECT_EQ(got[i].record.type, c.expected[i].second);
                EXPECT_EQ(got[i].record.idFolderNew, 7u) << "the folder the change is about";
            } else {
                EXPECT_EQ(got[i].folder, 7u);
                EXPECT_EQ(got[i].id, 42u);
            }
        }
    }
    EXPECT_EQ(NotificationsFor(ev(EventKind::FolderCreated))[0].record.idFolderOld, 4u);
    EXPECT_EQ(NotificationsFor(ev(EventKind::FolderMoved))[0].record.idFolderOld, 3u);
    EXPECT_EQ(NotificationsFor(ev(EventKind::FolderDeleted))[0].record.idFolderOld, 3u);
}

TEST(HandleTables, RefuseClosedAndForeignHandles) {
    HandleTable<int> a;
    HandleTable<int> b;
    HENUMSTORE ha = a.Add(std::make_unique<int>(1));
    HENUMSTORE hb = b.Add(std::make_unique<int>(2));
    EXPECT_NE(ha, hb);
    ASSERT_NE(a.Find(ha), nullptr);
    EXPECT_EQ(*a.Find(ha), 1);
    EXPECT_EQ(a.Find(hb), nullptr);
    EXPECT_EQ(b.Find(ha), nullptr);
    EXPECT_EQ(a.Find(nullptr), nullptr);
    EXPECT_TRUE(a.Remove(ha));
    EXPECT_FALSE(a.Remove(ha));
    EXPECT_EQ(a.Find(ha), nullptr);
    // A handle never comes back after it was closed.
    EXPECT_NE(a.Add(std::make_unique<int>(3)), ha);
}

TEST_F(HubTest, DeliversThroughTheLoopInOrderWithValidPointers) {
    RecorderWindow folderWindow;
    RecorderWindow nsWindow;
    listeners->Add(&owner, folderWindow.hwnd(), true, 5);
    listeners->Add(&owner, nsWindow.hwnd(), false, 0);
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 5, 11));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 5, 12));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 6, 13)); // another folder
    hub->Enqueue(listeners, MessageNote(WM_MARKEDASREAD, 5, 0, true));
    hub->Enqueue(listeners, MessageNote(WM_MARKEDASUNREAD, 5, 14));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 5, 15));
    hub->Enqueue(listeners, FolderNote(DELETE_FOLDER, 1, 9));
    EXPECT_TRUE(folderWindow.received.empty()) << "nothing is sent before the loop runs";

    ASSERT_TRUE(Drain());
    // Each pointer still showed its own id when its handler ran, although all
    // of them were waiting at once.
    ASSERT_EQ(folderWindow.received.size(), 5u);
    EXPECT_EQ(folderWindow.received[0].message, WM_NEWMSGS);
    EXPECT_EQ(folderWindow.received[0].id, 11u);
    EXPECT_EQ(folderWindow.received[1].message, WM_DELETEMSGS);
    EXPECT_EQ(folderWindow.received[1].id, 12u);
    EXPECT_EQ(folderWindow.received[2].message, WM_MARKEDASREAD);
    EXPECT_TRUE(folderWindow.received[2].allMessages);
    EXPECT_EQ(folderWindow.received[3].message, WM_MARKEDASUNREAD);
    EXPECT_EQ(folderWindow.received[3].id, 14u);
    EXPECT_EQ(folderWindow.received[4].message, WM_DELETEMSGS);
    EXPECT_EQ(folderWindow.received[4].id, 15u);
    ASSERT_EQ(nsWindow.received.size(), 1u);
    EXPECT_EQ(nsWindow.received[0].record.type, static_cast<DWORD>(DELETE_FOLDER));
    EXPECT_EQ(nsWindow.received[0].record.idFolderOld, 1u);
    EXPECT_EQ(nsWindow.received[0].record.idFolderNew, 9u);
}

TEST_F(HubTest, ABurstWaitsInTheReceiversQueueBehindItsFirstMessage) {
    RecorderWindow window;
    listeners->Add(&owner, window.hwnd(), true, 5);
    std::vector<MESSAGEID> waiting;
    window.onMessage = [&](const Received& r) {
        // What a receiver does to take a burst in one go.
        MSG next{};
        while (r.id == 1 && PeekMessageW(&next, window.hwnd(), WM_NEWMSGS, WM_NEWMSGS,
                                         PM_REMOVE | PM_NOYIELD | PM_QS_POSTMESSAGE)) {
            waiting.push_back(static_cast<MESSAGEID>(next.wParam));
        }
    };
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 5, 1));
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 5, 2));
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 5, 3));
    ASSERT_TRUE(Drain());
    ASSERT_EQ(window.received.size(), 1u);
    EXPECT_EQ(waiting, (std::vector<MESSAGEID>{2, 3}));
}

TEST_F(HubTest, StorageIsReleasedOnlyAfterTheHandlersRan) {
    RecorderWindow window;
    listeners->Add(&owner, window.hwnd(), true, 5);
    std::vector<size_t> heldDuringHandler;
    // Busy (what the file remover waits on) until the last handler ran.
    std::vector<bool> busyDuringHandler;
    window.onMessage = [&](const Received&) {
        heldDuringHandler.push_back(hub->awaitingRelease());
        busyDuringHandler.push_back(hub->Busy());
    };
    EXPECT_FALSE(hub->Busy());
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 5, 21));
    EXPECT_TRUE(hub->Busy());
    hub->Enqueue(listeners, MessageNote(WM_MARKEDASREAD, 5, 22));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 5, 23));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(heldDuringHandler, (std::vector<size_t>{1, 1, 1}));
    EXPECT_EQ(busyDuringHandler, (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(hub->Busy()) << "the window settles first";
    EXPECT_TRUE(PumpUntil([&] { return !hub->Busy(); }, 5000));
    ASSERT_EQ(window.received.size(), 3u);
    EXPECT_EQ(window.received[0].id, 21u);
    EXPECT_EQ(window.received[1].id, 22u);
    EXPECT_EQ(window.received[2].id, 23u);
    EXPECT_EQ(hub->awaitingRelease(), 0u);
}

TEST_F(HubTest, APointerOutlivesAMessageLoopInsideItsHandler) {
    RecorderWindow window;
    listeners->Add(&owner, window.hwnd(), true, 1);
    MESSAGEID afterLoop = 0;
    window.onMessage = [&](const Received& r) {
        if (r.id == 1) {
            // A modal loop inside a handler lets the rest of the burst, its
            // release marker and a later change through; this handler's id
            // must survive it.
            hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 1, 3));
            PumpFor(100);
            afterLoop = *r.idAddress;
        }
    };
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 1, 1));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 1, 2));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(afterLoop, 1u);
    // Order holds: what a handler's change brings comes after what was waiting.
    ASSERT_EQ(window.received.size(), 3u);
    EXPECT_EQ(window.received[0].id, 1u);
    EXPECT_EQ(window.received[1].id, 2u);
    EXPECT_EQ(window.received[2].id, 3u);
}

TEST(IdSlots, APointerKeepsItsIdForTheNextSlotsLessOneIds) {
    auto slots = std::make_unique<IdSlots>();
    MESSAGEID* first = slots->Keep(7);
    MESSAGEID* second = slots->Keep(8);
    for (size_t i = 2; i < IdSlots::kSlots; ++i) {
        slots->Keep(static_cast<MESSAGEID>(1000 + i));
    }
    EXPECT_EQ(*first, 7u);
    EXPECT_EQ(*second, 8u);
    EXPECT_EQ(slots->Keep(9), first) << "the oldest slot is the one used again";
    EXPECT_EQ(*second, 8u);
}

TEST_F(HubTest, EachReceiverGetsItsOwnFolderRecord) {
    RecorderWindow first;
    RecorderWindow second;
    listeners->Add(&owner, first.hwnd(), false, 0);
    listeners->Add(&owner, second.hwnd(), false, 0);
    // The first receiver spoils its record before freeing it; a shared record
    // would reach the second receiver spoiled.
    first.scribbleRecords = true;
    hub->Enqueue(listeners, FolderNote(NEW_FOLDER, 2, 8));
    ASSERT_TRUE(PumpUntil([&] { return second.received.size() == 1; }, 5000));
    ASSERT_EQ(first.received.size(), 1u);
    EXPECT_EQ(first.received[0].record.idFolderNew, 8u);
    EXPECT_EQ(second.received[0].record.idFolderNew, 8u);
    EXPECT_EQ(second.received[0].record.type, static_cast<DWORD>(NEW_FOLDER));
}

TEST_F(HubTest, DestroyedWindowsAreDroppedAndUnregisteringTwiceIsHarmless) {
    RecorderWindow kept;
    auto gone = std::make_unique<RecorderWindow>();
    listeners->Add(&owner, kept.hwnd(), false, 0);
    listeners->Add(&owner, kept.hwnd(), false, 0); // twice through one owner: once
    listeners->Add(&owner, gone->hwnd(), false, 0);
    EXPECT_EQ(listeners->size(), 2u);
    gone.reset();
    hub->Enqueue(listeners, FolderNote(RENAME_FOLDER, 4, 4));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(kept.received.size(), 1u);
    EXPECT_EQ(listeners->size(), 1u);

    // A window destroyed while its message waits never gets it.
    RecorderWindow late;
    listeners->Add(&owner, late.hwnd(), true, 2);
    kept.onMessage = [&](const Received&) { late.Destroy(); };
    listeners->Add(&owner, kept.hwnd(), true, 2);
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 2, 31));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(kept.received.size(), 2u);
    EXPECT_TRUE(late.received.empty());
    kept.onMessage = nullptr;

    listeners->Remove(&owner, kept.hwnd());
    listeners->Remove(&owner, kept.hwnd());
    hub->Enqueue(listeners, FolderNote(RENAME_FOLDER, 4, 4));
    ASSERT_TRUE(Drain());
    EXPECT_EQ(kept.received.size(), 2u);
}

TEST_F(HubTest, DroppingTheHubInsideAHandlerKeepsWaitingPointersValid) {
    RecorderWindow window;
    listeners->Add(&owner, window.hwnd(), true, 3);
    const HWND hubWindow = hub->window();
    std::weak_ptr<NotifyHub> weak = hub;
    // The first handler lets go of the last store object, as a receiver may.
    bool moduleHeld = false;
    window.onMessage = [&](const Received& r) {
        if (r.id == 41) {
            hub.reset();
            // The window procedure that will release the storage lives in the module.
            moduleHeld = ModuleInUse();
        }
    };
    ASSERT_FALSE(ModuleInUse());
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 3, 41));
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 3, 42));
    ASSERT_TRUE(PumpUntil([&] { return weak.expired(); }, 5000));
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[1].id, 42u);
    EXPECT_FALSE(IsWindow(hubWindow));
    EXPECT_TRUE(moduleHeld);
    EXPECT_FALSE(ModuleInUse());
}

TEST_F(HubTest, WindowsOfAnotherThreadAreSentTheirNotifications) {
    OtherThreadReceiver other;
    ASSERT_NE(other.hwnd(), nullptr);
    listeners->Add(&owner, other.hwnd(), true, 4);
    hub->Enqueue(listeners, MessageNote(WM_DELETEMSGS, 4, 51));
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 4, 52));
    // Sent, not posted: once the hub's turn is over the other thread has them.
    ASSERT_TRUE(PumpUntil([&] { return hub->pending() == 0; }, 5000));
    EXPECT_EQ(hub->awaitingRelease(), 0u);
    const std::vector<Received> got = other.Finish();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].message, WM_DELETEMSGS);
    EXPECT_EQ(got[0].id, 51u);
    EXPECT_EQ(got[1].id, 52u);
}

TEST_F(HubTest, PollersRunOnTheTimerAndTheWindowGoesWithTheLastUser) {
    int polls = 0;
    const auto id = hub->AddPoller([&] { ++polls; });
    ASSERT_TRUE(PumpUntil([&] { return polls >= 2; }, 5000));
    hub->RemovePoller(id);
    const int after = polls;
    PumpFor(2 * NotifyHub::kPollMilliseconds);
    EXPECT_EQ(polls, after);

    const HWND window = hub->window();
    EXPECT_EQ(NotifyHub::ForCurrentThread(), hub) << "one hub per thread";
    hub.reset();
    EXPECT_FALSE(IsWindow(window));
}
