#include "HandleTable.h"
#include "NotifyHub.h"
#include "StoreSession.h"

#include "ComTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

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

class HubTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hub = NotifyHub::ForCurrentThread();
        ASSERT_NE(hub, nullptr);
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
    hub->Enqueue(listeners, FolderNote(DELETE_FOLDER, 1, 9));
    EXPECT_TRUE(folderWindow.received.empty()) << "nothing is sent before the loop runs";

    ASSERT_TRUE(PumpUntil([&] { return hub->pending() == 0; }, 5000));
    ASSERT_EQ(folderWindow.received.size(), 4u);
    EXPECT_EQ(folderWindow.received[0].message, WM_NEWMSGS);
    EXPECT_EQ(folderWindow.received[0].id, 11u);
    EXPECT_EQ(folderWindow.received[1].message, WM_DELETEMSGS);
    EXPECT_EQ(folderWindow.received[1].id, 12u);
    EXPECT_EQ(folderWindow.received[2].message, WM_MARKEDASREAD);
    EXPECT_TRUE(folderWindow.received[2].allMessages);
    EXPECT_EQ(folderWindow.received[3].message, WM_MARKEDASUNREAD);
    EXPECT_EQ(folderWindow.received[3].id, 14u);
    ASSERT_EQ(nsWindow.received.size(), 1u);
    EXPECT_EQ(nsWindow.received[0].record.type, static_cast<DWORD>(DELETE_FOLDER));
    EXPECT_EQ(nsWindow.received[0].record.idFolderOld, 1u);
    EXPECT_EQ(nsWindow.received[0].record.idFolderNew, 9u);
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

TEST_F(HubTest, OneAtATimeEvenWhenAHandlerRunsAMessageLoop) {
    RecorderWindow window;
    listeners->Add(&owner, window.hwnd(), true, 1);
    size_t seenDuringFirst = 0;
    window.onMessage = [&](const Received& r) {
        if (r.id == 1) {
            // A modal loop inside a handler must not bring the next notification.
            PumpFor(100);
            seenDuringFirst = window.received.size();
            hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 1, 3));
        }
    };
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 1, 1));
    hub->Enqueue(listeners, MessageNote(WM_NEWMSGS, 1, 2));
    ASSERT_TRUE(PumpUntil([&] { return window.received.size() == 3; }, 5000));
    EXPECT_EQ(seenDuringFirst, 1u);
    EXPECT_EQ(window.received[1].id, 2u);
    EXPECT_EQ(window.received[2].id, 3u);
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
    ASSERT_TRUE(PumpUntil([&] { return hub->pending() == 0; }, 5000));
    EXPECT_EQ(kept.received.size(), 1u);
    EXPECT_EQ(listeners->size(), 1u);

    listeners->Remove(&owner, kept.hwnd());
    listeners->Remove(&owner, kept.hwnd());
    hub->Enqueue(listeners, FolderNote(RENAME_FOLDER, 4, 4));
    ASSERT_TRUE(PumpUntil([&] { return hub->pending() == 0; }, 5000));
    EXPECT_EQ(kept.received.size(), 1u);
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
