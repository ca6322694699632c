// A folder created by another writer in a store of 10,000 folders, reaching
// the main window through the real server: how long the notification takes to
// arrive after the writer's commit, and how long from its arrival until the
// tree shows the new folder, painted; beside a bare tree view inserting the
// same 10,000 nodes and the full refill the tree did before (the rebuild
// routine on the real store). Sizes: first argument the folder count.
#include "BenchSupport.h"
#include "RealServer.h"
#include "main/MainUnit.h"
#include "storeui/FolderTree.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace realserver;

namespace {

constexpr int kTopLevel = 100;
constexpr int kRounds = 5;

bool Seed(const std::string& dir, int folders) {
    NoSyncFileSystem noSync;
    mailstore::OpenOptions options;
    options.create = true;
    options.fs = &noSync;
    std::unique_ptr<mailstore::Store> store;
    if (!mailstore::Store::Open(dir, options, &store).ok())
        return false;
    const int perTop = std::max(1, folders / kTopLevel) - 1;
    for (int top = 0, made = 0; top < kTopLevel && made < folders; ++top) {
        mailstore::FolderId parent = 0;
        if (!store->CreateFolder(mailstore::kRootFolder, "Folder " + std::to_string(top), &parent)
                 .ok())
            return false;
        ++made;
        for (int child = 0; child < perTop && made < folders; ++child, ++made) {
            mailstore::FolderId id = 0;
            if (!store->CreateFolder(parent, "Sub-folder " + std::to_string(made), &id).ok())
                return false;
        }
    }
    return true;
}

// A bare tree like the main window's inserting `count` nodes, expanded,
// each appended to its parent.
double BareInserts(HWND tree, int count) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree);
    const double start = bench::Now();
    HTREEITEM top = nullptr;
    for (int i = 0; i < count; ++i) {
        std::wstring name = (i % kTopLevel == 0 ? L"Folder " : L"Sub-folder ") + std::to_wstring(i);
        TVINSERTSTRUCTW insert{};
        insert.hParent = i % kTopLevel == 0 ? TVI_ROOT : top;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
        insert.item.pszText = name.data();
        insert.item.lParam = i + 1;
        insert.item.state = i % kTopLevel == 0 ? TVIS_EXPANDED | TVIS_EXPANDEDONCE : 0;
        insert.item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        auto made = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        if (i % kTopLevel == 0)
            top = made;
    }
    return bench::Now() - start;
}

struct Round {
    double arrivedMs = -1; // after the writer's commit
    double rightMs = -1;   // after the arrival, painted
};

// Runs the window's loop until its tree holds `nodes`, noting when the
// folder notification came.
Round Wait(TBrisvanderMain& window, double committed, UINT nodes) {
    Round round;
    double arrived = 0;
    const double limit = bench::Now() + 30000;
    while (bench::Now() < limit) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_FOLDERNOTIFY && round.arrivedMs < 0) {
                arrived = bench::Now();
                round.arrivedMs = arrived - committed;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (TreeView_GetCount(window.TreeViewFolders()) == nodes) {
            bench::Paint(window.Handle());
            round.rightMs = bench::Now() - arrived;
            return round;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return round;
}

} // namespace

int main(int argc, char** argv) {
    const int folders = argc > 1 ? std::atoi(argv[1]) : 10000;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bench::InitControls();
    const TempDir dir("bench-store-tree");
    if (!Seed(dir.Text(), folders)) {
        std::fprintf(stderr, "cannot seed the store\n");
        return 1;
    }
    SetEnvironmentVariableA("MAILSTORE_DIR", dir.Text().c_str());
    ServerDll dll(DllPath());
    std::unique_ptr<mailstore::Store> writer; // the other process
    if (!dll.Loaded() || !mailstore::Store::Open(dir.Text(), {}, &writer).ok()) {
        std::fprintf(stderr, "cannot load the server or open the store again\n");
        return 1;
    }
    int failures = 0;
    {
        TBrisvanderMain window([&](IStoreNamespace** result) { return dll.Create(result); });
        window.Create(GetModuleHandleW(nullptr), SW_SHOW);
        bench::Paint(window.Handle());
        HWND tree = window.TreeViewFolders();
        const UINT shown = TreeView_GetCount(tree);

        // The floors, on a tree of the same kind on a window of its own.
        HWND host = CreateWindowExW(0, L"STATIC", L"bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 0,
                                    300, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        HWND bare =
            CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                            WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS |
                                TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                            7, 16, 218, 300, host, nullptr, GetModuleHandleW(nullptr), nullptr);
        SendMessageW(bare, WM_SETFONT, SendMessageW(tree, WM_GETFONT, 0, 0), FALSE);
        TreeView_SetImageList(bare, TreeView_GetImageList(tree, TVSIL_NORMAL), TVSIL_NORMAL);
        double inserts = 1e9, refill = 1e9;
        for (int i = 0; i < 3; ++i)
            inserts = std::min(inserts, BareInserts(bare, folders));
        bool suppress = false;
        for (int i = 0; i < 3; ++i) {
            const double start = bench::Now();
            folder_tree::Rebuild(bare, window.Namespace(), 0, suppress);
            refill = std::min(refill, bench::Now() - start);
        }
        const bool refilled = TreeView_GetCount(bare) == shown;
        DestroyWindow(host);

        std::vector<Round> rounds;
        for (int i = 0; i < kRounds; ++i) {
            mailstore::FolderId made = 0;
            if (!writer->CreateFolder(mailstore::kRootFolder, "Created " + std::to_string(i), &made)
                     .ok()) {
                ++failures;
                break;
            }
            const Round round = Wait(window, bench::Now(), shown + i + 1);
            if (round.rightMs < 0)
                ++failures;
            rounds.push_back(round);
        }
        auto median = [&](double Round::*field) {
            std::vector<double> values;
            for (const Round& round : rounds)
                values.push_back(round.*field);
            std::sort(values.begin(), values.end());
            return values.empty() ? -1.0 : values[values.size() / 2];
        };
        const double right = median(&Round::rightMs);
        std::printf("%u folders, one created by another writer (ms; median of %d)\n", shown,
                    kRounds);
        std::printf("  %-52s %9.1f\n", "notification arrives after the commit",
                    median(&Round::arrivedMs));
        std::printf("  %-52s %9.1f  (%.2fx the bare inserts)\n",
                    "tree right and painted after the arrival", right, right / inserts);
        std::printf("  %-52s %9.1f\n", "floor: bare tree view inserting as many nodes", inserts);
        std::printf("  %-52s %9.1f  (%.2fx)%s\n", "the full refill the tree did before", refill,
                    refill / inserts, refilled ? "" : "  WRONG node count");
        window.Destroy();
    }
    writer.reset();
    CoUninitialize();
    if (failures)
        std::printf("FAILED: %d rounds did not show the new folder\n", failures);
    return failures ? 1 : 0;
}
