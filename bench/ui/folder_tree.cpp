// Rebuilding the folder tree for 1,000 and 10,000 folders enumerated out of id
// order: the rebuild the window uses (nodes inserted expanded, at their id
// place) against the literal way (appended, siblings sorted after each node,
// then every node expanded with TVM_EXPAND).
#include "BenchSupport.h"
#include "storeui/FolderTree.h"
#include "StoreDouble.h"
#include "StoreRecords.h"

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using storedouble::StoreDouble;

namespace {

void LiteralAdd(HWND tree, IStoreNamespace* store, STOREFOLDERID parentId, HTREEITEM parent) {
    FOLDERPROPS props = store::NewFolderProps();
    HENUMSTORE handle = nullptr;
    if (store->GetFirstSubFolder(parentId, &props, &handle) != S_OK)
        return;
    do {
        std::wstring name(props.szName, props.szName + store::FolderName(props).size());
        TVINSERTSTRUCTW insert{};
        insert.hParent = parent ? parent : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = name.data();
        insert.item.lParam = static_cast<LPARAM>(props.FolderId);
        auto node = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        folder_tree::ResortNode(tree, node);
        if (props.cSubFolders > 0)
            LiteralAdd(tree, store, props.FolderId, node);
    } while (store->GetNextSubFolder(handle, &props) == S_OK);
    store->GetSubFolderClose(handle);
}

void ExpandAll(HWND tree, HTREEITEM node) {
    for (; node; node = TreeView_GetNextSibling(tree, node)) {
        TreeView_Expand(tree, node, TVE_EXPAND);
        ExpandAll(tree, TreeView_GetChild(tree, node));
    }
}

void LiteralRebuild(HWND tree, IStoreNamespace* store) {
    SendMessageW(tree, WM_SETREDRAW, FALSE, 0);
    TreeView_DeleteAllItems(tree);
    LiteralAdd(tree, store, 0, nullptr);
    TreeView_SelectItem(tree, TreeView_GetRoot(tree));
    ExpandAll(tree, TreeView_GetRoot(tree));
    TreeView_EnsureVisible(tree, TreeView_GetSelection(tree));
    SendMessageW(tree, WM_SETREDRAW, TRUE, 0);
}

// `count` folders: 10 top-level ones, each with an equal share of children,
// each child with ten grandchildren; siblings enumerated in shuffled order.
ComPtr<StoreDouble> MakeStore(int count) {
    auto store = StoreDouble::Create();
    std::mt19937 random(7);
    std::vector<STOREFOLDERID> top;
    STOREFOLDERID next = 1;
    int made = 0;
    for (int t = 0; t < 10; ++t, ++made)
        top.push_back(next++);
    for (STOREFOLDERID id : top)
        store->AddFolder(id, 0, "Top " + std::to_string(id));
    std::vector<STOREFOLDERID> middle;
    int middleCount = (count - 10) / 11;
    for (int m = 0; m < middleCount; ++m, ++made) {
        STOREFOLDERID id = next++;
        store->AddFolder(id, top[static_cast<size_t>(m) % top.size()],
                         "Folder " + std::to_string(id));
        middle.push_back(id);
    }
    for (size_t m = 0; made < count; ++made, ++m) {
        STOREFOLDERID id = next++;
        store->AddFolder(id, middle[m % middle.size()], "Leaf " + std::to_string(id));
    }
    auto shuffle = [&](STOREFOLDERID parent) {
        std::vector<STOREFOLDERID> order = store->ChildIds(parent);
        std::shuffle(order.begin(), order.end(), random);
        store->SetChildOrder(parent, order);
    };
    shuffle(0);
    for (STOREFOLDERID id : top)
        shuffle(id);
    for (STOREFOLDERID id : middle)
        shuffle(id);
    return store;
}

} // namespace

int main() {
    bench::InitControls();
    HWND host = CreateWindowExW(0, L"STATIC", L"bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                                600, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    DWORD style =
        WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
    HWND tree = CreateWindowExW(0, WC_TREEVIEWW, L"", style, 0, 0, 380, 580, host, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
    std::printf("folder tree rebuild (ms; best of 3, each replacing a full tree)\n");
    std::printf("%8s %12s %12s %12s\n", "folders", "enumerate", "rebuild", "literal");
    for (int count : {1000, 10000}) {
        auto store = MakeStore(count);
        double enumerate = bench::BestOf(3, nullptr, [&] {
            std::vector<STOREFOLDERID> stack{0};
            while (!stack.empty()) {
                STOREFOLDERID parent = stack.back();
                stack.pop_back();
                FOLDERPROPS props = store::NewFolderProps();
                HENUMSTORE handle = nullptr;
                if (store->GetFirstSubFolder(parent, &props, &handle) != S_OK)
                    continue;
                do
                    if (props.cSubFolders > 0)
                        stack.push_back(props.FolderId);
                while (store->GetNextSubFolder(handle, &props) == S_OK);
                store->GetSubFolderClose(handle);
            }
        });
        bool suppress = false;
        folder_tree::Rebuild(tree, store.Get(), 0, suppress);
        double rebuild = bench::BestOf(3, nullptr, [&] {
            folder_tree::Rebuild(tree, store.Get(), 0, suppress);
            bench::Paint(host);
        });
        double literal = bench::BestOf(3, nullptr, [&] {
            LiteralRebuild(tree, store.Get());
            bench::Paint(host);
        });
        std::printf("%8d %12.1f %12.1f %12.1f\n", count, enumerate, rebuild, literal);
        std::fflush(stdout);
    }
    DestroyWindow(host);
    return 0;
}
