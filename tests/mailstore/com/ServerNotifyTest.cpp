// Notifications from the server, received by real windows through the
// thread's message loop.
#include "ServerFixture.h"

#include "StoreRecords.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <tuple>

using namespace comtest;

namespace {

MESSAGEIDLIST IdList(std::vector<MESSAGEID>& ids) {
    return MESSAGEIDLIST{MESSAGEIDLIST_SIZE, static_cast<DWORD>(ids.size()), ids.data()};
}

struct Expect {
    UINT message;
    DWORD type; // folder-notify type, or the message id
    STOREFOLDERID old = 0;
    STOREFOLDERID now = 0;
};

// Compares what a window received with the expected list, in order.
void ExpectReceived(const std::vector<Received>& got, const std::vector<Expect>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("notification " + std::to_string(i));
        EXPECT_EQ(got[i].message, want[i].message);
        if (got[i].message == WM_FOLDERNOTIFY) {
            EXPECT_EQ(got[i].record.type, want[i].type);
            EXPECT_EQ(got[i].record.idFolderOld, want[i].old);
            EXPECT_EQ(got[i].record.idFolderNew, want[i].now);
        } else {
            EXPECT_EQ(got[i].id, want[i].type);
        }
    }
}

// Lets every queued notification and one more poll arrive.
void Settle() {
    PumpFor(600);
}

} // namespace

TEST_F(ServerTest, FolderChangesReachNamespaceWindowsAfterTheCall) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    RecorderWindow window;
    RecorderWindow unregistered;
    ASSERT_EQ(ns->RegisterNotification(0, window.hwnd()), S_OK);
    EXPECT_EQ(ns->RegisterNotification(0, nullptr), E_INVALIDARG);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const STOREFOLDERID sent = SpecialFolder(ns.Get(), FOLDER_SENT);

    STOREFOLDERID id = 0;
    ASSERT_EQ(ns->CreateFolder(inbox, "Work", 0, &id), S_OK);
    EXPECT_TRUE(window.received.empty()) << "delivered through the loop, not inside the call";
    ASSERT_EQ(ns->RenameFolder(id, 0, "Projects"), S_OK);
    ASSERT_EQ(ns->MoveFolder(id, sent, 0), S_OK);
    ASSERT_EQ(ns->DeleteFolder(id, 0), S_OK);
    EXPECT_TRUE(FAILED(ns->DeleteFolder(id, 0))); // a failure sends nothing
    Settle();
    ExpectReceived(window.received, {{WM_FOLDERNOTIFY, NEW_FOLDER, inbox, id},
                                     {WM_FOLDERNOTIFY, RENAME_FOLDER, id, id},
                                     {WM_FOLDERNOTIFY, MOVE_FOLDER, inbox, id},
                                     {WM_FOLDERNOTIFY, DELETE_FOLDER, sent, id}});
    EXPECT_TRUE(unregistered.received.empty());

    // Unregistering twice is harmless; nothing arrives afterwards.
    EXPECT_EQ(ns->UnregisterNotification(0, window.hwnd()), S_OK);
    EXPECT_EQ(ns->UnregisterNotification(0, window.hwnd()), S_OK);
    ASSERT_EQ(ns->CreateFolder(inbox, "Quiet", 0, &id), S_OK);
    Settle();
    EXPECT_EQ(window.received.size(), 4u);
}

TEST_F(ServerTest, MessageChangesReachTheFolderWindowsInOrder) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const STOREFOLDERID drafts = SpecialFolder(ns.Get(), FOLDER_DRAFT);
    auto ids = Seed(inbox, {Mail("a"), Mail("b"), Mail("c")});
    ComPtr<IStoreFolder> in, out;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, in.GetAddressOf()), S_OK);
    ASSERT_EQ(ns->OpenFolder(drafts, 0, out.GetAddressOf()), S_OK);
    Settle();

    RecorderWindow nsWindow, inWindow, outWindow;
    ASSERT_EQ(ns->RegisterNotification(0, nsWindow.hwnd()), S_OK);
    ASSERT_EQ(in->RegisterNotification(0, inWindow.hwnd()), S_OK);
    ASSERT_EQ(out->RegisterNotification(0, outWindow.hwnd()), S_OK);
    EXPECT_EQ(in->RegisterNotification(0, reinterpret_cast<HWND>(0x1234)), E_INVALIDARG);

    std::vector<MESSAGEID> first{ids[0]};
    MESSAGEIDLIST list = IdList(first);
    ASSERT_EQ(in->MarkMessagesAsRead(TRUE, 0, &list), S_OK);
    ASSERT_EQ(in->MarkMessagesAsRead(FALSE, 0, nullptr), S_OK);
    std::vector<MESSAGEID> two{ids[1], ids[2]};
    MESSAGEIDLIST moveList = IdList(two);
    ASSERT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &moveList, 1, 2, nullptr), S_OK);
    Settle();

    const auto moved = MessageIds(out.Get());
    ASSERT_EQ(moved.size(), 2u);
    ExpectReceived(inWindow.received, {{WM_MARKEDASREAD, ids[0]},
                                       {WM_MARKEDASUNREAD, 0},
                                       {WM_DELETEMSGS, ids[1]},
                                       {WM_DELETEMSGS, ids[2]}});
    ASSERT_EQ(inWindow.received.size(), 4u);
    EXPECT_TRUE(inWindow.received[1].allMessages);
    EXPECT_FALSE(inWindow.received[0].allMessages);
    // Each moved message is new in the target, in the same order.
    ExpectReceived(outWindow.received, {{WM_NEWMSGS, moved[0]}, {WM_NEWMSGS, moved[1]}});

    // The namespace window hears the count changes of both folders.
    bool inboxUnread = false, inboxProps = false, draftsProps = false;
    for (const auto& r : nsWindow.received) {
        ASSERT_EQ(r.message, WM_FOLDERNOTIFY);
        inboxUnread |= r.record.type == UNREAD_CHANGE && r.record.idFolderNew == inbox;
        inboxProps |= r.record.type == FOLDER_PROPS_CHANGED && r.record.idFolderNew == inbox;
        draftsProps |= r.record.type == FOLDER_PROPS_CHANGED && r.record.idFolderNew == drafts;
    }
    EXPECT_TRUE(inboxUnread && inboxProps && draftsProps);

    // Delete: one message each; a destroyed window is dropped, others still hear.
    RecorderWindow second;
    ASSERT_EQ(out->RegisterNotification(0, second.hwnd()), S_OK);
    outWindow.Destroy();
    std::vector<MESSAGEID> gone = moved;
    MESSAGEIDLIST goneList = IdList(gone);
    ASSERT_EQ(out->DeleteMessages(&goneList, 0, nullptr), S_OK);
    Settle();
    ExpectReceived(second.received, {{WM_DELETEMSGS, moved[0]}, {WM_DELETEMSGS, moved[1]}});

    // A handler may call back into the store while its notification is delivered.
    MESSAGEID seenInHandler = 0;
    second.onMessage = [&](const Received& r) {
        if (r.message == WM_NEWMSGS) {
            MESSAGEPROPS props = store::NewMessageProps();
            if (out->GetMessageProps(r.id, 0, &props) == S_OK) {
                seenInHandler = props.dwMessageId;
                out->FreeMessageProps(&props);
            }
        }
    };
    std::vector<MESSAGEID> copyOne{ids[0]};
    MESSAGEIDLIST copyList = IdList(copyOne);
    ASSERT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &copyList, 0, 2, nullptr), S_OK);
    Settle();
    ASSERT_EQ(second.received.size(), 3u);
    EXPECT_EQ(seenInHandler, second.received[2].id);
}

TEST_F(ServerTest, ChangesFromAnotherWriterArriveWithinASecondOrSo) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    RecorderWindow nsWindow, folderWindow;
    ASSERT_EQ(ns->RegisterNotification(0, nsWindow.hwnd()), S_OK);
    ASSERT_EQ(folder->RegisterNotification(0, folderWindow.hwnd()), S_OK);

    const MESSAGEID id = Seed(inbox, {Mail("from elsewhere")}).at(0);
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(PumpUntil([&] { return !folderWindow.received.empty(); }, 5000));
    const ULONGLONG took = GetTickCount64() - start;
    PumpFor(300);
    ExpectReceived(folderWindow.received, {{WM_NEWMSGS, id}});
    ASSERT_FALSE(nsWindow.received.empty());
    EXPECT_EQ(nsWindow.received.back().record.type, static_cast<DWORD>(FOLDER_PROPS_CHANGED));
    EXPECT_EQ(nsWindow.received.back().record.idFolderNew, inbox);
    RecordProperty("arrival_ms", static_cast<int>(took));
    std::printf("another writer's message arrived after %llu ms\n", took);
}

// Another process damages the store while the server runs: the failure
// reaches the next call once, the last good state is still served, and no
// change is reported (not even one that was committed before the damage).
TEST_F(ServerTest, AFailedPickUpReachesTheNextCallAndStopsTheReports) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    Seed(inbox, {Mail("before")});
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    Settle();
    RecorderWindow nsWindow, folderWindow;
    ASSERT_EQ(ns->RegisterNotification(0, nsWindow.hwnd()), S_OK);
    ASSERT_EQ(folder->RegisterNotification(0, folderWindow.hwnd()), S_OK);

    Seed(inbox, {Mail("after")}); // no message is pumped before the damage
    {
        std::fstream journal(dir.path() / L"journal.bin",
                             std::ios::in | std::ios::out | std::ios::binary);
        ASSERT_TRUE(journal.is_open());
        journal.write("DAMAGED!", 8);
    }
    Settle(); // the timer meets the damage
    EXPECT_TRUE(folderWindow.received.empty());
    EXPECT_TRUE(nsWindow.received.empty());

    FOLDERPROPS props{};
    props.cbSize = FOLDERPROPS_SIZE;
    const HRESULT first = ns->GetFolderProps(inbox, 0, &props);
    EXPECT_TRUE(FAILED(first)) << std::hex << first;
    ASSERT_EQ(ns->GetFolderProps(inbox, 0, &props), S_OK) << "served from what it has";
    EXPECT_EQ(props.cMessage, 1u);
    EXPECT_EQ(MessageIds(folder.Get()).size(), 1u);
    Settle();
    EXPECT_TRUE(folderWindow.received.empty());
    EXPECT_TRUE(nsWindow.received.empty());
}

// A pick-up that failed while another process wrote does not cost the next
// change: the tool does not look at a delete's status, so it would be lost.
TEST_F(ServerTest, AChangeAfterAPassingPickUpFailureIsMade) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const auto ids = Seed(inbox, {Mail("a"), Mail("b")});
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    Settle();
    std::fstream journal(dir.path() / L"journal.bin",
                         std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(journal.is_open());
    char header[8] = {};
    ASSERT_TRUE(journal.read(header, sizeof header));
    journal.seekp(0).write("DAMAGED!", 8).flush();
    Settle(); // the timer meets the damage
    journal.seekp(0).write(header, sizeof header).flush();
    journal.close();

    MESSAGEID gone = ids.at(0);
    MESSAGEIDLIST list{MESSAGEIDLIST_SIZE, 1, &gone};
    EXPECT_EQ(folder->DeleteMessages(&list, 0, nullptr), S_OK);
    EXPECT_EQ(MessageIds(folder.Get()), std::vector<MESSAGEID>{ids.at(1)});
}

#ifdef MAILSTORE_CLI
namespace {

// The build's mailstore tool; a path of the build host is reached through Z:.
std::wstring ToolPath() {
    std::string path = MAILSTORE_CLI;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    for (auto& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return std::wstring(path.begin(), path.end());
}

// Runs the tool with `args`, pumping messages meanwhile; its exit code, or -1.
int RunTool(const std::wstring& args) {
    std::wstring line = L"\"" + ToolPath() + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi)) {
        return -1;
    }
    struct Handles {
        PROCESS_INFORMATION& pi;
        ~Handles() {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    } handles{pi};
    PumpUntil([&] { return WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0; }, 60000);
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(pi.hProcess, &code)) {
        TerminateProcess(pi.hProcess, 1);
        return -1;
    }
    return static_cast<int>(code);
}

} // namespace

TEST_F(ServerTest, ChangesByTheMailstoreToolInAnotherProcessArrive) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    ComPtr<IStoreFolder> folder;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, folder.GetAddressOf()), S_OK);
    RecorderWindow nsWindow, folderWindow;
    ASSERT_EQ(ns->RegisterNotification(0, nsWindow.hwnd()), S_OK);
    ASSERT_EQ(folder->RegisterNotification(0, folderWindow.hwnd()), S_OK);

    const auto file = dir.path().parent_path() / (dir.path().filename().wstring() + L".eml");
    {
        std::ofstream out(file, std::ios::binary);
        out << Mail("Sent by the tool");
    }
    const std::wstring store = L"\"" + dir.path().wstring() + L"\"";
    ASSERT_EQ(RunTool(L"import " + store + L" Inbox \"" + file.wstring() + L"\""), 0);
    std::filesystem::remove(file);
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(PumpUntil([&] { return !folderWindow.received.empty(); }, 5000));
    std::printf("the tool's message arrived %llu ms after it exited\n", GetTickCount64() - start);
    PumpFor(300);
    const auto ids = MessageIds(folder.Get());
    ASSERT_EQ(ids.size(), 1u);
    ExpectReceived(folderWindow.received, {{WM_NEWMSGS, ids[0]}});
    ExpectReceived(nsWindow.received, {{WM_FOLDERNOTIFY, UNREAD_CHANGE, inbox, inbox},
                                       {WM_FOLDERNOTIFY, FOLDER_PROPS_CHANGED, inbox, inbox}});

    folderWindow.received.clear();
    nsWindow.received.clear();
    ASSERT_EQ(RunTool(L"mark " + store + L" Inbox read all"), 0);
    ASSERT_TRUE(PumpUntil([&] { return nsWindow.received.size() == 2; }, 5000));
    ASSERT_EQ(folderWindow.received.size(), 1u);
    EXPECT_EQ(folderWindow.received[0].message, WM_MARKEDASREAD);
    EXPECT_TRUE(folderWindow.received[0].allMessages);
    EXPECT_EQ(nsWindow.received[0].record.type, static_cast<DWORD>(UNREAD_CHANGE));
    EXPECT_EQ(Props(ns.Get(), inbox).cUnread, 0u);
}

namespace {

using Shape = std::vector<std::tuple<UINT, DWORD, DWORD, DWORD>>;

// What a window received, with ids of one change put in place of the other's.
Shape ShapeOf(const std::vector<Received>& got, const std::map<DWORD, DWORD>& same = {}) {
    auto id = [&](DWORD v) {
        auto it = same.find(v);
        return it == same.end() ? v : it->second;
    };
    Shape out;
    for (const Received& r : got) {
        if (r.message == WM_FOLDERNOTIFY)
            out.emplace_back(r.message, r.record.type, id(r.record.idFolderOld),
                             id(r.record.idFolderNew));
        else
            out.emplace_back(r.message, id(r.id), r.allMessages, 0);
    }
    return out;
}

std::wstring Id(DWORD id) {
    return L" #" + std::to_wstring(id);
}

} // namespace

// Each change command of the tool, run in another process, reaches the windows
// as the same change made through the server does.
TEST_F(ServerTest, EachToolChangeSendsWhatTheServerSendsForIt) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    const STOREFOLDERID sent = SpecialFolder(ns.Get(), FOLDER_SENT);
    const STOREFOLDERID drafts = SpecialFolder(ns.Get(), FOLDER_DRAFT);
    const auto ids = Seed(inbox, {Mail("a"), Mail("b"), Mail("c"), Mail("d")});
    ComPtr<IStoreFolder> in, out;
    ASSERT_EQ(ns->OpenFolder(inbox, 0, in.GetAddressOf()), S_OK);
    ASSERT_EQ(ns->OpenFolder(drafts, 0, out.GetAddressOf()), S_OK);
    RecorderWindow nsWindow, inWindow, outWindow;
    ASSERT_EQ(ns->RegisterNotification(0, nsWindow.hwnd()), S_OK);
    ASSERT_EQ(in->RegisterNotification(0, inWindow.hwnd()), S_OK);
    ASSERT_EQ(out->RegisterNotification(0, outWindow.hwnd()), S_OK);
    Settle();
    const std::wstring store = L"\"" + dir.path().wstring() + L"\"";
    std::vector<RecorderWindow*> windows{&nsWindow, &inWindow, &outWindow};

    // Runs the change both ways; same() maps the tool's ids to the server's.
    auto compare = [&](const char* what, const std::function<void()>& viaServer,
                       const std::wstring& toolArgs,
                       const std::function<std::map<DWORD, DWORD>()>& same) {
        SCOPED_TRACE(what);
        for (RecorderWindow* w : windows)
            w->received.clear();
        viaServer();
        Settle();
        std::vector<Shape> server;
        size_t count = 0;
        for (RecorderWindow* w : windows) {
            server.push_back(ShapeOf(w->received));
            count += w->received.size();
            w->received.clear();
        }
        EXPECT_GT(count, 0u);
        ASSERT_EQ(RunTool(toolArgs), 0);
        PumpUntil(
            [&] {
                size_t n = 0;
                for (RecorderWindow* w : windows)
                    n += w->received.size();
                return n >= count;
            },
            5000);
        PumpFor(300);
        const auto map = same();
        for (size_t i = 0; i < windows.size(); ++i)
            EXPECT_EQ(ShapeOf(windows[i]->received, map), server[i]) << "window " << i;
    };
    auto child = [&](const char* name) {
        for (const FOLDERPROPS& p : Children(ns.Get(), inbox))
            if (std::string(p.szName) == name)
                return p.FolderId;
        return STOREFOLDERID(0);
    };

    STOREFOLDERID a = 0;
    compare(
        "mkdir", [&] { ASSERT_EQ(ns->CreateFolder(inbox, "A", 0, &a), S_OK); },
        L"mkdir " + store + L" Inbox/B",
        [&] {
            return std::map<DWORD, DWORD>{{child("B"), a}};
        });
    const STOREFOLDERID b = child("B");
    ASSERT_NE(b, 0u);
    const std::map<DWORD, DWORD> folders{{b, a}};
    auto sameFolders = [&] { return folders; };
    compare(
        "rename", [&] { ASSERT_EQ(ns->RenameFolder(a, 0, "A2"), S_OK); },
        L"rename " + store + Id(b) + L" B2", sameFolders);
    compare(
        "move", [&] { ASSERT_EQ(ns->MoveFolder(a, sent, 0), S_OK); },
        L"move " + store + Id(b) + Id(sent), sameFolders);
    compare(
        "rmdir", [&] { ASSERT_EQ(ns->DeleteFolder(a, 0), S_OK); }, L"rmdir " + store + Id(b),
        sameFolders);

    std::vector<MESSAGEID> one{ids[0]};
    MESSAGEIDLIST list = IdList(one);
    compare(
        "delete", [&] { ASSERT_EQ(in->DeleteMessages(&list, 0, nullptr), S_OK); },
        L"delete " + store + Id(inbox) + L" " + std::to_wstring(ids[1]),
        [&] {
            return std::map<DWORD, DWORD>{{ids[1], ids[0]}};
        });
    for (DWORD move : {0u, 1u}) {
        std::vector<MESSAGEID> before = MessageIds(out.Get()), c{ids[2]};
        MESSAGEIDLIST cList = IdList(c);
        // The newest message of the target, from each side.
        MESSAGEID viaServer = 0;
        compare(
            move ? "move-messages" : "copy",
            [&] {
                ASSERT_EQ(ns->CopyMoveMessages(in.Get(), out.Get(), &cList, move, 0, nullptr),
                          S_OK);
                viaServer = MessageIds(out.Get()).back();
            },
            (move ? L"move-messages " : L"copy ") + store + Id(inbox) + Id(drafts) + L" " +
                std::to_wstring(ids[3]),
            [&] {
                return std::map<DWORD, DWORD>{{MessageIds(out.Get()).back(), viaServer},
                                              {ids[3], ids[2]}};
            });
        EXPECT_EQ(MessageIds(out.Get()).size(), before.size() + 2);
    }
}
#endif

TEST_F(ServerTest, ReleasingTheStoreInsideAHandlerIsSafe) {
    auto ns = Connect();
    ASSERT_TRUE(ns);
    const STOREFOLDERID inbox = SpecialFolder(ns.Get(), FOLDER_INBOX);
    RecorderWindow window;
    ASSERT_EQ(ns->RegisterNotification(0, window.hwnd()), S_OK);
    // The first notification's handler drops the last reference: what was
    // already posted to the window still arrives, and the server's hidden
    // window goes.
    window.onMessage = [&](const Received&) { ns.Reset(); };
    STOREFOLDERID a = 0, b = 0;
    ASSERT_EQ(ns->CreateFolder(inbox, "A", 0, &a), S_OK);
    ASSERT_EQ(ns->CreateFolder(inbox, "B", 0, &b), S_OK);
    PumpFor(600);
    ASSERT_EQ(window.received.size(), 2u);
    EXPECT_EQ(window.received[0].record.idFolderNew, a);
    EXPECT_EQ(window.received[1].record.idFolderNew, b);
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"MailStoreNotifyHub", nullptr), nullptr);

    // The store reopens cleanly afterwards and kept both folders.
    auto again = Connect();
    ASSERT_TRUE(again);
    EXPECT_EQ(Children(again.Get(), inbox).size(), 2u);
}
