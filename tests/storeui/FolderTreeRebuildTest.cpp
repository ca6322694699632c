// The tree rebuild on the store double, checked against a rebuild done the
// slow, literal way: nodes appended, siblings sorted by callback after each
// node's data is set, every node expanded one by one afterwards.
#include "storeui/FolderTree.h"
#include "storeui/FolderTreeSync.h"
#include "StoreDouble.h"
#include "StoreRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

using storedouble::StoreDouble;
using ::testing::ElementsAre;

namespace {

std::vector<STOREFOLDERID>* g_selections = nullptr;
// When set, changes raised while it is up are not recorded: the window ignores them.
bool* g_ignoredUnder = nullptr;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && g_selections && !(g_ignoredUnder && *g_ignoredUnder)) {
        auto* change = reinterpret_cast<NMTREEVIEWW*>(lParam);
        if (change->hdr.code == TVN_SELCHANGEDW)
            g_selections->push_back(change->itemNew.hItem
                                        ? static_cast<STOREFOLDERID>(change->itemNew.lParam)
                                        : 0xFFFFFFFFu);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Counts the nodes deleted while the watched flag is up.
bool* g_watchedFlag = nullptr;
int g_deletesUnderFlag = 0;

LRESULT CALLBACK WatchDeletes(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NOTIFY && g_watchedFlag &&
        reinterpret_cast<NMHDR*>(lParam)->code == TVN_DELETEITEMW && *g_watchedFlag)
        ++g_deletesUnderFlag;
    return HostProc(hwnd, message, wParam, lParam);
}

// ---- The literal rebuild ---------------------------------------------------------

void LiteralAdd(HWND tree, IStoreNamespace* store, STOREFOLDERID parentId, HTREEITEM parent,
                STOREFOLDERID wanted) {
    FOLDERPROPS props = store::NewFolderProps();
    HENUMSTORE handle = nullptr;
    if (store->GetFirstSubFolder(parentId, &props, &handle) != S_OK)
        return;
    do {
        std::wstring name(props.szName, props.szName + store::FolderName(props).size());
        TVINSERTSTRUCTW insert{};
        insert.hParent = parent ? parent : TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT;
        insert.item.pszText = name.data();
        auto node = reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
        TVITEMW item{};
        item.mask = TVIF_PARAM | TVIF_HANDLE;
        item.hItem = node;
        item.lParam = static_cast<LPARAM>(props.FolderId);
        SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        folder_tree::ResortNode(tree, node);
        item.mask = TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_HANDLE;
        item.iImage = item.iSelectedImage = store::FolderTypeImage(props.sfType);
        SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
        if (props.FolderId == wanted)
            TreeView_SelectItem(tree, node);
        if (props.cSubFolders > 0)
            LiteralAdd(tree, store, props.FolderId, node, wanted);
    } while (store->GetNextSubFolder(handle, &props) == S_OK);
    store->GetSubFolderClose(handle);
}

void ExpandAll(HWND tree, HTREEITEM node) {
    for (; node; node = TreeView_GetNextSibling(tree, node)) {
        TreeView_Expand(tree, node, TVE_EXPAND);
        ExpandAll(tree, TreeView_GetChild(tree, node));
    }
}

void LiteralRebuild(HWND tree, IStoreNamespace* store, STOREFOLDERID wanted) {
    TreeView_DeleteAllItems(tree);
    LiteralAdd(tree, store, 0, nullptr, wanted);
    if (!TreeView_GetSelection(tree) || wanted == 0)
        TreeView_SelectItem(tree, TreeView_GetRoot(tree));
    ExpandAll(tree, TreeView_GetRoot(tree));
    if (HTREEITEM selected = TreeView_GetSelection(tree))
        TreeView_EnsureVisible(tree, selected);
}

// ---- Fixture -------------------------------------------------------------------------

class FolderTreeRebuild : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX init{sizeof init, ICC_TREEVIEW_CLASSES};
        InitCommonControlsEx(&init);
        WNDCLASSW cls{};
        cls.lpfnWndProc = HostProc;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"FolderTreeTestHost";
        RegisterClassW(&cls);
        host_ = CreateWindowExW(0, cls.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 500, 300,
                                nullptr, nullptr, cls.hInstance, nullptr);
        DWORD style = WS_CHILD | WS_VISIBLE | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                      TVS_SHOWSELALWAYS;
        fast_ = CreateWindowExW(0, WC_TREEVIEWW, L"", style, 0, 0, 240, 280, host_, nullptr,
                                cls.hInstance, nullptr);
        literal_ = CreateWindowExW(0, WC_TREEVIEWW, L"", style, 250, 0, 240, 280, host_, nullptr,
                                   cls.hInstance, nullptr);
        g_selections = &selections_;
    }
    void TearDown() override {
        g_selections = nullptr;
        DestroyWindow(host_);
    }

    struct Node {
        int depth;
        std::wstring text;
        STOREFOLDERID id;
        int image;
        bool expanded;
        bool expandedOnce;
        bool selected;
        bool operator==(const Node&) const = default;
    };

    static void Dump(HWND tree, HTREEITEM node, int depth, std::vector<Node>& out) {
        for (; node; node = TreeView_GetNextSibling(tree, node)) {
            wchar_t text[300] = {};
            TVITEMW item{};
            item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_STATE | TVIF_HANDLE;
            item.hItem = node;
            item.pszText = text;
            item.cchTextMax = 300;
            item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE | TVIS_SELECTED;
            TreeView_GetItem(tree, &item);
            HTREEITEM child = TreeView_GetChild(tree, node);
            // Only a node with children shows whether it is expanded.
            out.push_back({depth, text, static_cast<STOREFOLDERID>(item.lParam), item.iImage,
                           child && (item.state & TVIS_EXPANDED),
                           child && (item.state & TVIS_EXPANDEDONCE),
                           node == TreeView_GetSelection(tree)});
            Dump(tree, child, depth + 1, out);
        }
    }
    std::vector<Node> Dump(HWND tree) {
        std::vector<Node> nodes;
        Dump(tree, TreeView_GetRoot(tree), 0, nodes);
        return nodes;
    }
    std::vector<STOREFOLDERID> Ids(HWND tree) {
        std::vector<STOREFOLDERID> ids;
        for (const Node& node : Dump(tree))
            ids.push_back(node.id);
        return ids;
    }

    // Rebuilds both trees and expects the same nodes and the same selection changes.
    void RebuildBoth(STOREFOLDERID wanted) {
        selections_.clear();
        folder_tree::Rebuild(fast_, store_.Get(), wanted, suppress_);
        std::vector<STOREFOLDERID> fastChanges = selections_;
        selections_.clear();
        LiteralRebuild(literal_, store_.Get(), wanted);
        EXPECT_EQ(fastChanges, selections_);
        EXPECT_EQ(Dump(fast_), Dump(literal_));
        EXPECT_FALSE(suppress_);
        EXPECT_EQ(store_->OpenEnumerations(), 0);
        selections_ = fastChanges;
    }
    STOREFOLDERID SelectedId(HWND tree) {
        HTREEITEM selected = TreeView_GetSelection(tree);
        return selected ? folder_tree::NodeId(tree, selected) : 0xFFFFFFFFu;
    }

    HWND host_ = nullptr;
    HWND fast_ = nullptr;
    HWND literal_ = nullptr;
    bool suppress_ = false;
    std::vector<STOREFOLDERID> selections_;
    Microsoft::WRL::ComPtr<StoreDouble> store_ = StoreDouble::Create();
};

TEST_F(FolderTreeRebuild, OutOfOrderStoreGivesIdOrderAtEveryLevel) {
    // Ids compared as signed numbers: 0x80000005 is negative and comes first.
    store_->AddFolder(9, 0, "Nine")
        .AddFolder(2, 0, "Two", FOLDER_INBOX)
        .AddFolder(0x80000005u, 0, "Negative")
        .AddFolder(7, 0, "Seven", FOLDER_DELETED)
        .AddFolder(30, 2, "Thirty")
        .AddFolder(12, 2, "Twelve")
        .AddFolder(20, 2, "Twenty");
    RebuildBoth(0);
    EXPECT_THAT(Ids(fast_), ElementsAre(0x80000005u, 2u, 12u, 20u, 30u, 7u, 9u));
    std::vector<Node> nodes = Dump(fast_);
    EXPECT_EQ(nodes[1].image, 1); // inbox
    EXPECT_EQ(nodes[5].image, 4); // deleted items
    EXPECT_EQ(nodes[5].text, L"Seven");
    EXPECT_EQ(SelectedId(fast_), 0x80000005u);
}

TEST_F(FolderTreeRebuild, ThreeLevelsAreExpandedAfterEveryRebuild) {
    store_->AddFolder(1, 0, "Top")
        .AddFolder(2, 1, "Middle")
        .AddFolder(3, 2, "Bottom")
        .AddFolder(4, 3, "Deepest");
    store_->AddFolder(5, 0, "Other");
    for (STOREFOLDERID wanted : {0u, 3u, 4u, 5u}) {
        RebuildBoth(wanted);
        for (const Node& node : Dump(fast_))
            if (node.id <= 3) {
                EXPECT_TRUE(node.expanded) << "node " << node.id << " after wanted " << wanted;
            }
    }
}

TEST_F(FolderTreeRebuild, WantedIdDecidesTheSelection) {
    store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX)
        .AddFolder(4, 0, "Projects")
        .AddFolder(6, 4, "Old");
    RebuildBoth(6);
    EXPECT_EQ(SelectedId(fast_), 6u);
    EXPECT_THAT(selections_, ElementsAre(6u));

    // Wanted 0 selects the first top-level folder even though 6 was selected.
    RebuildBoth(0);
    EXPECT_EQ(SelectedId(fast_), 1u);

    // A wanted id that no longer exists falls back to the first top-level folder.
    RebuildBoth(4);
    store_->RemoveFolder(4);
    RebuildBoth(4);
    EXPECT_EQ(SelectedId(fast_), 1u);
    EXPECT_THAT(Ids(fast_), ElementsAre(1u));
}

TEST_F(FolderTreeRebuild, SelectedNodeIsScrolledIntoViewAfterEveryRebuild) {
    for (STOREFOLDERID id = 1; id <= 300; ++id)
        store_->AddFolder(id, 0, "Folder " + std::to_string(id));
    auto expectShown = [&](STOREFOLDERID wanted) {
        SCOPED_TRACE(wanted);
        HTREEITEM selected = TreeView_GetSelection(fast_);
        ASSERT_EQ(folder_tree::NodeId(fast_, selected), wanted);
        RECT client{};
        GetClientRect(fast_, &client);
        RECT node{};
        std::memcpy(&node, &selected, sizeof selected); // the item goes in, its rectangle out
        ASSERT_TRUE(SendMessageW(fast_, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&node)));
        EXPECT_GE(node.top, client.top);
        EXPECT_LE(node.bottom, client.bottom);
    };
    folder_tree::Rebuild(fast_, store_.Get(), 250, suppress_);
    expectShown(250);
    // A change elsewhere rebuilds with the same wanted id: still in view.
    store_->AddFolder(301, 0, "New");
    folder_tree::Rebuild(fast_, store_.Get(), 250, suppress_);
    expectShown(250);
    // And back near the top again.
    folder_tree::Rebuild(fast_, store_.Get(), 3, suppress_);
    expectShown(3);
}

TEST_F(FolderTreeRebuild, DeletingTheOldNodesRunsUnderTheSuppressFlag) {
    store_->AddFolder(1, 0, "One").AddFolder(2, 0, "Two");
    folder_tree::Rebuild(fast_, store_.Get(), 2, suppress_);
    g_watchedFlag = &suppress_;
    SetWindowLongPtrW(host_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchDeletes));
    folder_tree::Rebuild(fast_, store_.Get(), 2, suppress_);
    SetWindowLongPtrW(host_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostProc));
    g_watchedFlag = nullptr;
    EXPECT_EQ(g_deletesUnderFlag, 2);
    EXPECT_FALSE(suppress_);
}

TEST_F(FolderTreeRebuild, EmptyStoreLeavesAnEmptyTreeWithoutSelection) {
    store_->AddFolder(1, 0, "Only");
    folder_tree::Rebuild(fast_, store_.Get(), 0, suppress_);
    store_->RemoveFolder(1);
    selections_.clear();
    folder_tree::Rebuild(fast_, store_.Get(), 0, suppress_);
    EXPECT_EQ(TreeView_GetCount(fast_), 0u);
    EXPECT_EQ(TreeView_GetSelection(fast_), nullptr);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
}

TEST_F(FolderTreeRebuild, TenThousandLevelsDeepNeedNoStackPerLevel) {
    constexpr STOREFOLDERID kDepth = 10000;
    for (STOREFOLDERID id = 1; id <= kDepth; ++id)
        store_->AddFolder(id, id - 1, "L" + std::to_string(id));
    store_->AddFolder(kDepth + 1, 1, "Beside");
    folder_tree::Rebuild(fast_, store_.Get(), kDepth, suppress_);
    EXPECT_EQ(TreeView_GetCount(fast_), kDepth + 1);
    EXPECT_EQ(SelectedId(fast_), kDepth);
    HTREEITEM second = TreeView_GetChild(fast_, TreeView_GetRoot(fast_));
    EXPECT_EQ(folder_tree::NodeId(fast_, TreeView_GetNextSibling(fast_, second)), kDepth + 1);
    EXPECT_EQ(store_->OpenEnumerations(), 0);
}

TEST_F(FolderTreeRebuild, LongNamesAreCutAtTheRecordsEnd) {
    store_->AddFolder(1, 0, std::string(256, 'x')); // no NUL inside the name field
    folder_tree::Rebuild(fast_, store_.Get(), 0, suppress_);
    ASSERT_EQ(Dump(fast_).size(), 1u);
    EXPECT_EQ(Dump(fast_)[0].text, std::wstring(256, L'x'));
}

// The tree kept in step node by node ends as a literal rebuild would, through
// every kind of change, and leaves the nodes that did not change alone.
TEST_F(FolderTreeRebuild, SyncEndsAsALiteralRebuildAfterEveryChange) {
    store_->AddFolder(1, 0, "Inbox", FOLDER_INBOX).AddFolder(2, 0, "Archive");
    for (STOREFOLDERID id = 10; id < 20; ++id)
        store_->AddFolder(id, 2, "Year " + std::to_string(id));
    store_->AddFolder(30, 12, "Deep").AddFolder(31, 30, "Deeper").AddFolder(5, 0, "Five");
    folder_tree::TreeSync sync;
    auto syncBoth = [&](STOREFOLDERID wanted, const char* step) {
        SCOPED_TRACE(step);
        selections_.clear();
        g_ignoredUnder = &suppress_;
        sync.Rebuild(fast_, store_.Get(), wanted, suppress_);
        g_ignoredUnder = nullptr;
        const std::vector<STOREFOLDERID> changes = selections_;
        selections_.clear();
        LiteralRebuild(literal_, store_.Get(), wanted);
        EXPECT_EQ(Dump(fast_), Dump(literal_));
        // One change the window sees, to the node a rebuild selects last.
        ASSERT_FALSE(selections_.empty());
        EXPECT_EQ(changes, std::vector<STOREFOLDERID>{selections_.back()});
        EXPECT_FALSE(suppress_);
        EXPECT_EQ(store_->OpenEnumerations(), 0);
    };
    syncBoth(0, "first fill");
    const HTREEITEM inbox = TreeView_GetRoot(fast_);
    store_->AddFolder(15 + 100, 2, "Created").AddFolder(3, 0, "Between");
    syncBoth(11, "created");
    store_->RenameFolderTo(11, "Renamed");
    store_->Folder(5).type = FOLDER_SENT;
    syncBoth(11, "renamed, new type");
    // Selecting a node would expand what lies above it, so the wanted one is
    // elsewhere while expansion is what is checked.
    store_->MoveFolderTo(12, 1); // with its sub-tree, under a node that had no children
    syncBoth(3, "moved");
    TreeView_Expand(fast_, folder_tree::FindNode(fast_, 12), TVE_COLLAPSE);
    syncBoth(3, "folded by the user");
    store_->RemoveFolder(12);
    syncBoth(31, "selected one deleted");
    store_->RemoveFolder(2);
    syncBoth(1, "parent of many deleted");
    sync.SetText(fast_, folder_tree::FindNode(fast_, 5), L"Edited");
    store_->RenameFolderTo(5, "Edited");
    syncBoth(5, "renamed in place");
    EXPECT_EQ(TreeView_GetRoot(fast_), inbox);
}

} // namespace
