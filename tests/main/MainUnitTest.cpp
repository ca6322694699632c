// Start-up, teardown and the store-message dispatcher of the main window.
#include "MainUnitTestSupport.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

using ::testing::ElementsAre;
using namespace maintest;

namespace {

size_t IndexOf(const std::vector<std::string>& calls, const std::string& call) {
    return static_cast<size_t>(std::find(calls.begin(), calls.end(), call) - calls.begin());
}

void ExpectUsableEmptyWindow(TBrisvanderMain& window) {
    EXPECT_TRUE(IsWindow(window.Handle()));
    EXPECT_TRUE(IsWindowEnabled(window.Handle()));
    EXPECT_EQ(TreeView_GetCount(window.TreeViewFolders()), 0u);
    EXPECT_EQ(ListView_GetItemCount(window.ListViewMessages()), 0);
    EXPECT_EQ(window.OpenedFolder(), nullptr);
    EXPECT_EQ(window.CurrentFolderId(), 0u);
    // Still resizes and lays out.
    SetWindowPos(window.Handle(), nullptr, 0, 0, 800, 600, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_GT(PlaceOf(window.MemoInfo()).right - PlaceOf(window.MemoInfo()).left, 668);
}

TEST_F(MainWindowTest, StoreThatCannotBeCreatedLeavesOneLineAndAnEmptyWindow) {
    Start([](IStoreNamespace** result) {
        *result = nullptr;
        return REGDB_E_CLASSNOTREG;
    });
    EXPECT_EQ(window_->LogText(), "ERROR: Can't create StoreNamespace\r\n");
    EXPECT_EQ(window_->Namespace(), nullptr);
    ExpectUsableEmptyWindow(*window_);
    EXPECT_TRUE(store_->Calls().empty());
    window_->Destroy();
    EXPECT_FALSE(IsWindow(window_->Handle()));
}

TEST_F(MainWindowTest, FactoryReportingSuccessWithoutAnObjectCountsAsFailure) {
    Start([](IStoreNamespace** result) {
        *result = nullptr;
        return S_OK;
    });
    EXPECT_EQ(window_->LogText(), "ERROR: Can't create StoreNamespace\r\n");
}

TEST_F(MainWindowTest, StoreThatCannotInitializeStopsAfterItsReasonAndIsStillReleased) {
    store_->FailOn("Initialize", HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT));
    Start();
    // The line every store failure starts with, then which store, why and what helps.
    const std::string log = window_->LogText();
    const std::string first = "ERROR: Can't initialize StoreNamespace\r\n";
    ASSERT_EQ(log.substr(0, first.size()), first);
    const std::string second = log.substr(first.size());
    EXPECT_EQ(std::count(second.begin(), second.end(), '\n'), 1) << second;
    EXPECT_EQ(second.rfind("The store \"C:\\Users\\alice\\Mail\\Store\" cannot be opened: ", 0), 0u)
        << second;
    EXPECT_NE(second.find("(0x80070570)"), std::string::npos) << second;
    EXPECT_NE(second.find("\"mailstore check C:\\Users\\alice\\Mail\\Store\""), std::string::npos)
        << second;
    EXPECT_THAT(store_->Calls(), ElementsAre("Initialize()", "GetDirectory(260)"));
    ExpectUsableEmptyWindow(*window_);
    EXPECT_EQ(store_->NamespaceRegistrations(), 0u);

    store_->ClearCalls();
    window_->Destroy();
    EXPECT_THAT(store_->CallsWithReleases(),
                ElementsAre("UnregisterNotification()", "Release(namespace)"));
    EXPECT_EQ(store_->References(), 1u); // only the test's own
}

TEST_F(MainWindowTest, NormalStartLogsTheStorePathAndRegistersTheWindow) {
    Start();
    EXPECT_EQ(window_->LogText(), "PATH OF MAIL MESSAGE STORE:\r\n"
                                  "C:\\Users\\alice\\Mail\\Store\r\n"
                                  "\r\n");
    EXPECT_EQ(store_->InitializedWith(), window_->Handle());
    EXPECT_EQ(store_->NamespaceRegistrations(), 1u);
    auto calls = store_->Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "Initialize()");
    EXPECT_LT(IndexOf(calls, "Initialize()"), IndexOf(calls, "GetDirectory(260)"));
    EXPECT_LT(IndexOf(calls, "GetDirectory(260)"), IndexOf(calls, "RegisterNotification()"));
    EXPECT_LT(IndexOf(calls, "RegisterNotification()"), calls.size());
}

TEST_F(MainWindowTest, FailedRegistrationIsLoggedLastAndStartUpGoesOn) {
    store_->FailOn("IStoreNamespace::RegisterNotification");
    Start();
    std::string log = window_->LogText();
    EXPECT_EQ(log.rfind("PATH OF MAIL MESSAGE STORE:\r\n"
                        "C:\\Users\\alice\\Mail\\Store\r\n"
                        "\r\n",
                        0),
              0u);
    const std::string last = "Can't RegisterNotification\r\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
    EXPECT_NE(window_->Namespace(), nullptr);
    // The tree and the first folder's messages are there all the same.
    EXPECT_EQ(TreeView_GetCount(window_->TreeViewFolders()), 2u);
    EXPECT_EQ(window_->CurrentFolderId(), 1u);
    EXPECT_EQ(ListView_GetItemCount(window_->ListViewMessages()), 1);
}

TEST_F(MainWindowTest, DirectoryTextIsBoundedAndAFailingStoreAddsNoStrayBytes) {
    store_->FailOn("GetDirectory");
    Start();
    EXPECT_EQ(window_->LogText(), "PATH OF MAIL MESSAGE STORE:\r\n\r\n\r\n");
    window_.reset();

    store_->ClearFailures();
    store_->SetDirectory(std::string(300, 'd'));
    Start();
    // The buffer holds 260 bytes: at most 259 characters and the NUL.
    EXPECT_EQ(window_->LogText(),
              "PATH OF MAIL MESSAGE STORE:\r\n" + std::string(259, 'd') + "\r\n\r\n");
}

TEST_F(MainWindowTest, TeardownClosesTheOpenFolderBeforeTheNamespace) {
    Start();
    window_->FillMessageList(2);
    ASSERT_NE(window_->OpenedFolder(), nullptr);
    ASSERT_EQ(store_->FolderRegistrations(2), 1u);
    store_->ClearCalls();

    window_->Destroy();
    EXPECT_THAT(store_->CallsWithReleases(),
                ElementsAre("UnregisterNotification(folder 2)", "Release(folder 2)",
                            "UnregisterNotification()", "Release(namespace)"));
    EXPECT_EQ(store_->LiveFolderObjects(), 0);
    EXPECT_EQ(store_->FolderRegistrations(2), 0u);
    EXPECT_EQ(store_->NamespaceRegistrations(), 0u);
    EXPECT_EQ(store_->References(), 1u);
    EXPECT_EQ(window_->Namespace(), nullptr);
    EXPECT_EQ(window_->OpenedFolder(), nullptr);

    window_->Destroy(); // twice is harmless
    EXPECT_EQ(store_->CallsWithReleases().size(), 4u);
}

TEST_F(MainWindowTest, ExceptionDuringStartUpIsShownAndTheWindowSurvives) {
    Start([](IStoreNamespace**) -> HRESULT { throw std::runtime_error("store exploded"); });
    ASSERT_EQ(modal_.errors.size(), 1u);
    EXPECT_EQ(modal_.errors[0], L"store exploded");
    EXPECT_TRUE(IsWindow(window_->Handle()));
    EXPECT_EQ(window_->Namespace(), nullptr);
}

// ---- The dispatcher ------------------------------------------------------------------------

// Sits between the dispatcher and the window's own procedure: the dispatcher
// saves whatever procedure the window has when it starts, which is this spy.
struct PassedOn {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string logAtThatTime;
};

std::vector<PassedOn>* g_passedOn = nullptr;
TBrisvanderMain* g_spied = nullptr;
WNDPROC g_ownProc = nullptr;
HHOOK g_hook = nullptr;

LRESULT CALLBACK SpyProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_passedOn && g_spied && message >= WM_USER)
        g_passedOn->push_back({message, wParam, lParam, g_spied->LogText()});
    return CallWindowProcW(g_ownProc, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK SpyHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        wchar_t name[64] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, 64);
        if (std::wstring(name) == TBrisvanderMain::kClassName)
            g_ownProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                reinterpret_cast<HWND>(wParam), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SpyProc)));
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

TEST_F(MainWindowTest, DispatcherPassesEveryMessageOnAfterHandlingIt) {
    std::vector<PassedOn> passedOn;
    g_hook = SetWindowsHookExW(WH_CBT, SpyHook, nullptr, GetCurrentThreadId());
    ASSERT_NE(g_hook, nullptr);
    Start();
    UnhookWindowsHookEx(g_hook);
    ASSERT_NE(g_ownProc, nullptr);
    g_spied = window_.get();
    g_passedOn = &passedOn;
    window_->FillMessageList(1);
    ASSERT_EQ(store_->FolderRegistrations(1), 1u);

    const int freedBefore = store_->FolderNotifiesFreed();
    store_->NotifyFolder(UNREAD_CHANGE, 1, 1);
    store_->NotifyNewMessage(1, 11);
    store_->NotifyDeleteMessage(1, 77);
    store_->NotifyMarked(1, true, 11);
    store_->NotifyMarked(1, false);
    SendMessageW(window_->Handle(), WM_USER + 7, 3, 4);
    SendMessageW(window_->Handle(), WM_APP + 1, 5, 6);
    SendMessageW(window_->Handle(), WM_FOLDERNOTIFY - 1, 7, 8);
    g_passedOn = nullptr;
    g_spied = nullptr;

    std::vector<UINT> messages;
    for (const PassedOn& p : passedOn)
        messages.push_back(p.message);
    EXPECT_THAT(messages,
                ElementsAre(WM_FOLDERNOTIFY, WM_NEWMSGS, WM_DELETEMSGS, WM_MARKEDASREAD,
                            WM_MARKEDASUNREAD, WM_USER + 7, WM_APP + 1, WM_FOLDERNOTIFY - 1));
    ASSERT_EQ(passedOn.size(), 8u);
    // Passed on unchanged, and only after the handler wrote its line.
    EXPECT_EQ(passedOn[1].wParam, 11u);
    EXPECT_EQ(passedOn[4].wParam, MARKED_ALL_MESSAGES);
    EXPECT_EQ(passedOn[5].wParam, 3u);
    EXPECT_EQ(passedOn[5].lParam, 4);
    EXPECT_NE(passedOn[0].logAtThatTime.find("UNREAD_CHANGE idFolderOld=1 idFolderNew=1\r\n"),
              std::string::npos);
    EXPECT_NE(passedOn[2].logAtThatTime.find("DELETEMSGS MsgId=77\r\n"), std::string::npos);
    EXPECT_NE(passedOn[4].logAtThatTime.find("MARKEDASUNREAD All messages in the folder\r\n"),
              std::string::npos);
    EXPECT_EQ(store_->FolderNotifiesFreed(), freedBefore + 1);

    // Ordinary messages still reach the window's own handling.
    SetWindowTextW(window_->Handle(), L"Renamed");
    EXPECT_EQ(WindowText(window_->Handle()), L"Renamed");
}

} // namespace
