// The folder tree at 10,005 folders: the main window's rebuild (as a folder
// notification runs it) and the Move dialog's fill, against a bare tree view
// with the same styles, font and pictures inserting the same nodes, expanded,
// each appended to its parent.
#include "BenchSupport.h"
#include "storeui/FolderTree.h"
#include "main/MainUnit.h"
#include "StoreDouble.h"
#include "UnitFoldersList.h"

#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using storedouble::StoreDouble;

namespace {

constexpr int kFolders = 10005;

// Five special folders, then plain ones: 100 top-level, each with 99
// children, or (flat) 10,000 side by side at the top level.
ComPtr<StoreDouble> MakeStore(bool flat) {
    auto store = StoreDouble::Create();
    for (STOREFOLDERID id = 1; id <= 5; ++id)
        store->AddFolder(id, 0, "Special " + std::to_string(id), static_cast<LONG>(id - 1));
    STOREFOLDERID next = 6;
    if (flat) {
        for (; next < 6 + 10000; ++next)
            store->AddFolder(next, 0, "Sibling " + std::to_string(next));
        return store;
    }
    for (int top = 0; top < 100; ++top) {
        const STOREFOLDERID parent = next++;
        store->AddFolder(parent, 0, "Folder " + std::to_string(parent));
        for (int child = 0; child < 99; ++child, ++next)
            store->AddFolder(next, parent, "Sub-folder " + std::to_string(next));
    }
    return store;
}

struct Node {
    std::wstring name;
    STOREFOLDERID id;
    int image;
    bool top;    // else a child of the last top-level node
    bool parent; // has children
};

// The same folders in the order a depth-first walk meets them.
std::vector<Node> Nodes(bool flat) {
    std::vector<Node> nodes;
    for (STOREFOLDERID id = 1; id <= 5; ++id)
        nodes.push_back({L"Special " + std::to_wstring(id), id, static_cast<int>(id), true, false});
    STOREFOLDERID next = 6;
    if (flat) {
        for (; next < 6 + 10000; ++next)
            nodes.push_back({L"Sibling " + std::to_wstring(next), next, 0, true, false});
        return nodes;
    }
    for (int top = 0; top < 100; ++top) {
        const STOREFOLDERID parent = next++;
        nodes.push_back({L"Folder " + std::to_wstring(parent), parent, 0, true, true});
        for (int child = 0; child < 99; ++child, ++next)
            nodes.push_back({L"Sub-folder " + std::to_wstring(next), next, 0, false, false});
    }
    return nodes;
}

// The bare inserts: each node appended to its parent, parents expanded.
void BareInserts(HWND tree, const std::vector<Node>& nodes) {
    HTREEITEM top = nullptr;
    for (const Node& node : nodes) {
        TVINSERTSTRUCTW insert{};
        insert.hParent = node.top ? TVI_ROOT : top;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
        insert.item.pszText = const_cast<wchar_t*>(node.name.c_str());
        insert.item.lParam = static_cast<LPARAM>(node.id);
        insert.item.iImage = insert.item.iSelectedImage = node.image;
        insert.item.state = node.parent ? TVIS_EXPANDED | TVIS_EXPANDEDONCE : 0;
        insert.item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        auto made = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        if (node.top)
            top = made;
    }
}

// Times one store shape; the window and the bare tree are made afresh for it.
void Shape(bool flat) {
    auto store = MakeStore(flat);
    const std::vector<Node> nodes = Nodes(flat);
    double start = bench::Now();
    TBrisvanderMain window([&](IStoreNamespace** result) {
        *result = store.Get();
        store->AddRef();
        return S_OK;
    });
    window.Create(GetModuleHandleW(nullptr), SW_SHOW);
    bench::Paint(window.Handle());
    const double startUp = bench::Now() - start;

    // A tree like the main window's, on a window of its own.
    HWND host = CreateWindowExW(0, L"STATIC", L"bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 700, 0,
                                300, 400, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    FolderTreeView bare;
    HWND bareTree = bare.Create(
        host, 1, controls::Place{7, 16, 218, 188},
        reinterpret_cast<HFONT>(SendMessageW(window.TreeViewFolders(), WM_GETFONT, 0, 0)));
    bare.SetImages(window.ImageListFolders());
    auto empty = [&] {
        SendMessageW(bareTree, WM_SETREDRAW, FALSE, 0);
        TreeView_DeleteAllItems(bareTree);
    };
    const double inserts = bench::BestOf(3, empty, [&] { BareInserts(bareTree, nodes); });
    const double bareWhole = bench::BestOf(3, nullptr, [&] {
        empty();
        BareInserts(bareTree, nodes);
        SendMessageW(bareTree, WM_SETREDRAW, TRUE, 0);
        bench::Paint(host);
    });
    const double rebuild = bench::BestOf(3, nullptr, [&] {
        window.RebuildTree(window.Tree().SelectedId());
        bench::Paint(window.Handle());
    });
    const bool whole = TreeView_GetCount(window.TreeViewFolders()) == static_cast<UINT>(kFolders);
    // What a folder created elsewhere costs: one more folder each time, the
    // tree put right as the notification does it.
    STOREFOLDERID created = 100000;
    const double oneNew = bench::BestOf(3, nullptr, [&] {
        ++created;
        store->AddFolder(created, flat ? 0 : 6, "Created " + std::to_string(created));
        window.RebuildTree(window.Tree().SelectedId());
        bench::Paint(window.Handle());
    });
    const bool grown =
        TreeView_GetCount(window.TreeViewFolders()) == static_cast<UINT>(kFolders + 3);
    bool suppress = false;
    // The same routine on the bare tree, emptied beforehand as for the inserts.
    const double routine =
        bench::BestOf(3, empty, [&] { folder_tree::Rebuild(bareTree, store.Get(), 6, suppress); });
    const double dialog = bench::BestOf(3, nullptr, [&] {
        TFormFoldersList folders;
        folders.Images = window.ImageListFolders();
        folders.FillTree = [&](HWND tree) { folder_tree::Rebuild(tree, store.Get(), 6, suppress); };
        folders.Create(window.Handle());
    });
    store->RemoveFolder(created);
    store->RemoveFolder(created - 1);
    store->RemoveFolder(created - 2);
    std::printf("%s, %d folders (ms; best of 3)\n",
                flat ? "10,000 side by side at the top" : "100 top-level with 99 each", kFolders);
    std::printf("  %-44s %9.1f\n", "start-up, first folder shown", startUp);
    std::printf("  %-44s %9.1f  (%.2f us a node)\n", "bare tree view: inserts alone", inserts,
                inserts * 1000 / kFolders);
    std::printf("  %-44s %9.1f\n", "bare tree view: empty, insert, repaint", bareWhole);
    std::printf("  %-44s %9.1f  (%.2fx the bare inserts)%s\n", "main window rebuild, repainted",
                rebuild, rebuild / inserts, whole ? "" : "  WRONG node count");
    std::printf("  %-44s %9.1f  (%.2fx the bare inserts)%s\n",
                "one folder created: tree right, repainted", oneNew, oneNew / inserts,
                grown ? "" : "  WRONG node count");
    std::printf("  %-44s %9.1f  (%.2fx)\n", "rebuild routine on the emptied bare tree", routine,
                routine / inserts);
    std::printf("  %-44s %9.1f  (%.2fx)\n", "Move/Copy dialog: created and filled", dialog,
                dialog / inserts);
    std::fflush(stdout);
    DestroyWindow(host);
    window.Destroy();
}

} // namespace

int main() {
    bench::InitControls();
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Shape(false);
    Shape(true);
    CoUninitialize();
    return 0;
}
