#include "StoreDouble.h"

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using storedouble::StoreDouble;
using ::testing::ElementsAre;

namespace {

class ComApartment {
  public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};

std::vector<STOREFOLDERID> EnumerateChildren(IStoreNamespace* store, STOREFOLDERID parent) {
    std::vector<STOREFOLDERID> ids;
    FOLDERPROPS props{};
    props.cbSize = FOLDERPROPS_SIZE;
    HENUMSTORE handle = nullptr;
    if (store->GetFirstSubFolder(parent, &props, &handle) != S_OK)
        return ids;
    do
        ids.push_back(props.FolderId);
    while (store->GetNextSubFolder(handle, &props) == S_OK);
    store->GetSubFolderClose(handle);
    return ids;
}

TEST(StoreDouble, EnumeratesFoldersInTheOrderTheTestSets) {
    auto store = StoreDouble::Create();
    store->AddFolder(1, 0, "Inbox", FOLDER_INBOX)
        .AddFolder(7, 0, "Archive")
        .AddFolder(3, 0, "Sent", FOLDER_SENT)
        .AddFolder(9, 7, "Old");
    EXPECT_THAT(EnumerateChildren(store.Get(), 0), ElementsAre(1, 7, 3));
    store->SetChildOrder(0, {3, 7, 1});
    EXPECT_THAT(EnumerateChildren(store.Get(), 0), ElementsAre(3, 7, 1));
    EXPECT_THAT(EnumerateChildren(store.Get(), 7), ElementsAre(9));
    EXPECT_TRUE(EnumerateChildren(store.Get(), 9).empty());
    EXPECT_EQ(store->OpenEnumerations(), 0);
    EXPECT_THROW(store->SetChildOrder(0, {3, 7}), std::invalid_argument);

    FOLDERPROPS props{};
    props.cbSize = FOLDERPROPS_SIZE;
    ASSERT_EQ(store->GetFolderProps(7, 0, &props), S_OK);
    EXPECT_EQ(props.cSubFolders, 1);
    EXPECT_EQ(props.sfType, FOLDER_NOTSPECIAL);
    EXPECT_STREQ(props.szName, "Archive");
    props.cbSize = 279; // a wrong size word is refused and counted
    EXPECT_NE(store->GetFolderProps(7, 0, &props), S_OK);
    EXPECT_EQ(store->WrongSizes(), 1);
}

TEST(StoreDouble, FullLengthNameFillsTheFieldWithoutTerminator) {
    auto store = StoreDouble::Create();
    store->AddFolder(1, 0, std::string(256, 'n'));
    store->AddFolder(2, 0, std::string(255, 'm'));
    FOLDERPROPS props{};
    props.cbSize = FOLDERPROPS_SIZE;
    ASSERT_EQ(store->GetFolderProps(1, 0, &props), S_OK);
    EXPECT_EQ(std::string(props.szName, sizeof props.szName), std::string(256, 'n'));
    ASSERT_EQ(store->GetFolderProps(2, 0, &props), S_OK);
    EXPECT_EQ(std::string(props.szName), std::string(255, 'm'));
}

TEST(StoreDouble, FailuresHitTheChosenCallOnly) {
    auto store = StoreDouble::Create();
    store->AddFolder(1, 0, "Inbox");
    store->FailOn("OpenFolder", E_ACCESSDENIED, 2);
    ComPtr<IStoreFolder> folder;
    EXPECT_EQ(store->OpenFolder(1, 0, &folder), S_OK);
    folder.Reset();
    EXPECT_EQ(store->OpenFolder(1, 0, &folder), E_ACCESSDENIED);
    EXPECT_EQ(folder, nullptr);
    EXPECT_EQ(store->OpenFolder(1, 0, &folder), S_OK);

    // A qualified name leaves the other interface's method of that name alone.
    store->FailOn("IStoreFolder::RegisterNotification");
    EXPECT_EQ(store->RegisterNotification(0, nullptr), S_OK);
    EXPECT_EQ(folder->RegisterNotification(0, nullptr), E_FAIL);
    store->ClearFailures();
    EXPECT_EQ(folder->RegisterNotification(0, nullptr), S_OK);
    EXPECT_EQ(store->FolderRegistrations(1), 1u);
}

TEST(StoreDouble, RecordsCallsAndFolderReleasesInOrder) {
    auto store = StoreDouble::Create();
    EXPECT_EQ(store->References(), 1u);
    store->AddFolder(5, 0, "Work");
    store->Initialize(nullptr, 0);
    char buffer[260] = {};
    store->SetDirectory("C:\\Mail");
    EXPECT_EQ(store->GetDirectory(buffer, sizeof buffer), S_OK);
    EXPECT_STREQ(buffer, "C:\\Mail");
    {
        ComPtr<IStoreFolder> folder;
        ASSERT_EQ(store->OpenFolder(5, 0, &folder), S_OK);
        EXPECT_EQ(store->LiveFolderObjects(), 1);
        folder->UnregisterNotification(0, nullptr);
    }
    EXPECT_EQ(store->LiveFolderObjects(), 0);
    EXPECT_THAT(store->Calls(), ElementsAre("Initialize()", "GetDirectory(260)", "OpenFolder(5)",
                                            "UnregisterNotification(folder 5)"));
    EXPECT_THAT(store->CallsWithReleases(),
                ElementsAre("Initialize()", "GetDirectory(260)", "OpenFolder(5)",
                            "UnregisterNotification(folder 5)", "Release(folder 5)"));
    EXPECT_EQ(store->CountCalls("UnregisterNotification"), 1);
    EXPECT_EQ(store->CountCalls("IStoreNamespace::UnregisterNotification"), 0);
}

TEST(StoreDouble, MessagesComeInStoreOrderAndMustBeHandedBack) {
    auto store = StoreDouble::Create();
    store->AddFolder(2, 0, "Inbox");
    store->AddMessage(2, storedouble::Message(30, "Alice Example", "Third", MSGSTATE_UNREAD));
    store->AddMessage(2, storedouble::Message(10, "Carol Example", "First"));
    storedouble::MessageSpec bare;
    bare.id = 20; // subject, To and From stay null pointers
    store->AddMessage(2, bare, 1);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(store->OpenFolder(2, 0, &folder), S_OK);

    MESSAGEPROPS props{};
    props.cbSize = MESSAGEPROPS_SIZE;
    HENUMSTORE handle = nullptr;
    std::vector<MESSAGEID> ids;
    std::vector<bool> nullSubject;
    ASSERT_EQ(folder->GetFirstMessage(0, 0, static_cast<MESSAGEID>(-1), &props, &handle), S_OK);
    do {
        ids.push_back(props.dwMessageId);
        nullSubject.push_back(props.pszSubject == nullptr);
        if (ids.size() < 3) // keep the last one to see it counted
            folder->FreeMessageProps(&props);
    } while (folder->GetNextMessage(handle, 0, &props) == S_OK);
    EXPECT_THAT(ids, ElementsAre(30, 20, 10));
    EXPECT_THAT(nullSubject, ElementsAre(false, true, false));
    EXPECT_EQ(store->OpenEnumerations(), 1);
    EXPECT_EQ(store->OutstandingMessageProps(), 1);
    EXPECT_STREQ(props.pszSubject, "First");
    EXPECT_EQ(folder->FreeMessageProps(&props), S_OK);
    EXPECT_EQ(props.pszSubject, nullptr);
    EXPECT_EQ(store->OutstandingMessageProps(), 0);
    EXPECT_NE(folder->FreeMessageProps(&props), S_OK); // twice is a fault
    EXPECT_EQ(store->UnknownFrees(), 1);
    EXPECT_EQ(folder->GetMessageClose(handle), S_OK);
    EXPECT_EQ(store->OpenEnumerations(), 0);
    EXPECT_EQ(folder->GetMessageClose(handle), E_HANDLE);
}

TEST(StoreDouble, OpenMessageStreamsTheSourceAndCountsLiveStreams) {
    auto store = StoreDouble::Create();
    store->AddFolder(2, 0, "Inbox");
    auto message = storedouble::Message(4, "Alice Example", "Hi");
    message.source = "Subject: Hi\r\n\r\nbody";
    store->AddMessage(2, message);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(store->OpenFolder(2, 0, &folder), S_OK);
    ComPtr<IStream> stream;
    ASSERT_EQ(folder->OpenMessage(4, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf())),
              S_OK);
    EXPECT_EQ(store->LiveMessageStreams(), 1);
    STATSTG stat{};
    ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.cbSize.QuadPart, message.source.size());
    char text[64] = {};
    ULONG read = 0;
    stream->Read(text, sizeof text, &read);
    EXPECT_EQ(std::string(text, read), message.source);
    stream.Reset();
    EXPECT_EQ(store->LiveMessageStreams(), 0);
}

// Records what a window received, and frees folder-notify records unless told not to.
struct Receiver {
    std::vector<std::string> seen;
    bool freeRecords = true;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<Receiver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (!self || message < WM_FOLDERNOTIFY || message > WM_MARKEDASUNREAD)
            return DefWindowProcW(hwnd, message, wParam, lParam);
        if (message == WM_FOLDERNOTIFY) {
            auto* record = reinterpret_cast<FOLDERNOTIFY*>(lParam);
            self->seen.push_back("folder " + std::to_string(record->type) + " " +
                                 std::to_string(record->idFolderOld) + " " +
                                 std::to_string(record->idFolderNew));
            if (self->freeRecords)
                CoTaskMemFree(record);
        } else if (message == WM_NEWMSGS) {
            self->seen.push_back("new " + std::to_string(wParam));
        } else if (wParam == MARKED_ALL_MESSAGES) {
            self->seen.push_back(std::to_string(message) + " all");
        } else {
            self->seen.push_back(std::to_string(message) + " " +
                                 std::to_string(*reinterpret_cast<MESSAGEID*>(wParam)));
        }
        return 0;
    }
};

class NotifyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW wc{};
        wc.lpfnWndProc = Receiver::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"StoreDoubleReceiver";
        RegisterClassW(&wc);
        hwnd_ = CreateWindowW(L"StoreDoubleReceiver", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              wc.hInstance, nullptr);
        ASSERT_NE(hwnd_, nullptr);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&receiver_));
        store_->AddFolder(1, 0, "Inbox").AddFolder(2, 0, "Archive");
        store_->AddMessage(1, storedouble::Message(5, "Alice Example", "One", MSGSTATE_UNREAD));
        store_->AddMessage(1, storedouble::Message(6, "Alice Example", "Two"));
    }
    void TearDown() override { DestroyWindow(hwnd_); }

    ComApartment com_;
    ComPtr<StoreDouble> store_ = StoreDouble::Create();
    Receiver receiver_;
    HWND hwnd_ = nullptr;
};

TEST_F(NotifyTest, ReachesOnlyRegisteredWindowsAndCountsFreedRecords) {
    EXPECT_EQ(store_->NotifyFolder(NEW_FOLDER, 0, 3), 0);
    store_->RegisterNotification(0, hwnd_);
    int freedBefore = store_->FolderNotifiesFreed();
    EXPECT_EQ(store_->NotifyFolder(RENAME_FOLDER, 2, 2), 1);
    EXPECT_EQ(store_->FolderNotifiesFreed(), freedBefore + 1);

    receiver_.freeRecords = false;
    store_->NotifyFolder(UNREAD_CHANGE, 1, 1);
    EXPECT_EQ(store_->FolderNotifiesFreed(), freedBefore + 1); // the leak shows
    EXPECT_EQ(store_->FolderNotifiesSent(), 2);
    EXPECT_THAT(receiver_.seen, ElementsAre("folder 3 2 2", "folder 5 1 1"));

    store_->UnregisterNotification(0, hwnd_);
    EXPECT_EQ(store_->NotifyFolder(NEW_FOLDER, 0, 3), 0);
}

TEST_F(NotifyTest, OperationsChangeContentsAndQueueTheirNotifications) {
    store_->RegisterNotification(0, hwnd_);
    ComPtr<IStoreFolder> inbox;
    ASSERT_EQ(store_->OpenFolder(1, 0, &inbox), S_OK);
    inbox->RegisterNotification(0, hwnd_);

    STOREFOLDERID created = 0;
    ASSERT_EQ(store_->CreateFolder(2, "Projects", 0, &created), S_OK);
    EXPECT_EQ(store_->Folder(created).parent, 2u);
    MESSAGEID ids[] = {5};
    MESSAGEIDLIST list{MESSAGEIDLIST_SIZE, 1, ids};
    ASSERT_EQ(inbox->MarkMessagesAsRead(TRUE, 0, &list), S_OK);
    EXPECT_EQ(store_->Message(1, 5).state & MSGSTATE_UNREAD, 0u);
    ASSERT_EQ(inbox->DeleteMessages(&list, 0, nullptr), S_OK);
    EXPECT_THAT(store_->MessageIds(1), ElementsAre(6));
    EXPECT_TRUE(receiver_.seen.empty()); // nothing arrives until asked

    EXPECT_EQ(store_->PendingNotifications(), 3u);
    EXPECT_EQ(store_->DeliverPending(), 3);
    EXPECT_THAT(receiver_.seen, ElementsAre("folder 1 2 " + std::to_string(created),
                                            std::to_string(WM_MARKEDASREAD) + " 5",
                                            std::to_string(WM_DELETEMSGS) + " 5"));
    EXPECT_EQ(store_->PendingNotifications(), 0u);

    receiver_.seen.clear();
    store_->NotifyMarked(1, false);
    store_->NotifyNewMessage(1, 9);
    EXPECT_THAT(receiver_.seen, ElementsAre(std::to_string(WM_MARKEDASUNREAD) + " all", "new 9"));
    inbox->UnregisterNotification(0, hwnd_);
    EXPECT_EQ(store_->FolderRegistrations(1), 0u);
}

TEST_F(NotifyTest, MovingMessagesNeedsTheDoublesOwnFolders) {
    ComPtr<IStoreFolder> inbox, archive;
    ASSERT_EQ(store_->OpenFolder(1, 0, &inbox), S_OK);
    ASSERT_EQ(store_->OpenFolder(2, 0, &archive), S_OK);
    MESSAGEID ids[] = {6};
    MESSAGEIDLIST list{MESSAGEIDLIST_SIZE, 1, ids};
    ASSERT_EQ(store_->CopyMoveMessages(inbox.Get(), archive.Get(), &list, 1, 2, nullptr), S_OK);
    EXPECT_THAT(store_->MessageIds(1), ElementsAre(5));
    EXPECT_EQ(store_->MessageIds(2).size(), 1u);
    EXPECT_EQ(store_->Calls().back(), "CopyMoveMessages(1, 2, [6], 1, 2)");
    EXPECT_EQ(store_->CopyMoveMessages(inbox.Get(), nullptr, &list, 0, 2, nullptr), E_INVALIDARG);
}

} // namespace
