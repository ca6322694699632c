#include "FolderTree.h"

#include "ui/RedrawGuard.h"
#include "StoreEnum.h"
#include "store/StoreRecords.h"
#include "ui/Text.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace folder_tree {

namespace {

void ClearExpanded(HWND tree, HTREEITEM node) {
    TVITEMW item{};
    item.mask = TVIF_STATE | TVIF_HANDLE;
    item.hItem = node;
    item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    TreeView_SetItem(tree, &item);
}

struct Sibling {
    STOREFOLDERID id;
    HTREEITEM node;
};

// One level of the walk: its open enumeration and its nodes so far, in id order.
struct Level {
    Level(IStoreNamespace* store, HTREEITEM parentNode) : folders(store), parent(parentNode) {}
    store_enum::SubFolderEnum folders;
    HTREEITEM parent;
    std::vector<Sibling> siblings;
};

HTREEITEM InsertNode(HWND tree, Level& level, const FOLDERPROPS& props) {
    auto place = std::upper_bound(
        level.siblings.begin(), level.siblings.end(), props.FolderId,
        [](STOREFOLDERID id, const Sibling& sibling) { return CompareIds(id, sibling.id) < 0; });
    std::wstring name = ui::FromAnsi(store::FolderName(props));
    int image = store::FolderTypeImage(props.sfType);
    TVINSERTSTRUCTW insert{};
    insert.hParent = level.parent ? level.parent : TVI_ROOT;
    // TVI_LAST whenever it is the place (a store enumerating in id order): a
    // node handle as the place costs the tree view a search through all its
    // nodes on every insert.
    insert.hInsertAfter = place == level.siblings.end()     ? TVI_LAST
                          : place == level.siblings.begin() ? TVI_FIRST
                                                            : (place - 1)->node;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    insert.item.pszText = name.data();
    insert.item.lParam = static_cast<LPARAM>(props.FolderId);
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    // Expanded from the start: expanding node by node afterwards costs far more.
    // A node never gets children unless it reports sub-folders.
    insert.item.state = props.cSubFolders > 0 ? TVIS_EXPANDED | TVIS_EXPANDEDONCE : 0;
    insert.item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    auto node = reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (node)
        level.siblings.insert(place, Sibling{props.FolderId, node});
    return node;
}

// Depth first, as the store enumerates, with the open levels on a list of
// their own instead of the call stack: a store may nest folders thousands
// of levels deep.
void AddAllFolders(HWND tree, IStoreNamespace* store, STOREFOLDERID wantedId) {
    FOLDERPROPS props = store::NewFolderProps();
    std::vector<std::unique_ptr<Level>> levels;
    // Opens the level under `parentNode`; `props` then holds its first folder.
    auto open = [&](STOREFOLDERID parentId, HTREEITEM parentNode) {
        auto level = std::make_unique<Level>(store, parentNode);
        if (!level->folders.First(parentId, props))
            return false;
        levels.push_back(std::move(level));
        return true;
    };
    open(FOLDERID_ROOT, nullptr);
    while (!levels.empty()) {
        HTREEITEM node = InsertNode(tree, *levels.back(), props);
        if (node && props.FolderId == wantedId)
            TreeView_SelectItem(tree, node);
        if (node && props.cSubFolders > 0) {
            if (open(props.FolderId, node))
                continue;              // on with its first child
            ClearExpanded(tree, node); // as expanding a childless node would leave it
        }
        // On with the next folder of this level or, when it has no more, of
        // the nearest level above that has.
        while (!levels.empty() && !levels.back()->folders.Next(props)) {
            const Level& done = *levels.back();
            if (done.parent && done.siblings.empty())
                ClearExpanded(tree, done.parent);
            levels.pop_back();
        }
    }
}

} // namespace

namespace {

bool ReadItem(HWND tree, HTREEITEM node, UINT mask, TVITEMW& item) {
    item.mask = mask | TVIF_HANDLE;
    item.hItem = node;
    return TreeView_GetItem(tree, &item) != FALSE;
}

} // namespace

int CompareIds(STOREFOLDERID first, STOREFOLDERID second) {
    return static_cast<LONG>(first) > static_cast<LONG>(second) ? 1 : -1;
}

int CALLBACK CompareNodes(LPARAM first, LPARAM second, LPARAM) {
    return CompareIds(static_cast<STOREFOLDERID>(first), static_cast<STOREFOLDERID>(second));
}

STOREFOLDERID NodeId(HWND tree, HTREEITEM node) {
    TVITEMW item{};
    return ReadItem(tree, node, TVIF_PARAM, item) ? static_cast<STOREFOLDERID>(item.lParam) : 0;
}

HTREEITEM FindNode(HWND tree, STOREFOLDERID id) {
    // Depth first without recursion: a deep tree must not exhaust the stack.
    HTREEITEM node = TreeView_GetRoot(tree);
    while (node) {
        if (NodeId(tree, node) == id)
            return node;
        HTREEITEM next = TreeView_GetChild(tree, node);
        while (!next && node) {
            next = TreeView_GetNextSibling(tree, node);
            if (!next)
                node = TreeView_GetParent(tree, node);
        }
        node = next;
    }
    return nullptr;
}

int NodeImage(HWND tree, HTREEITEM node) {
    TVITEMW item{};
    return ReadItem(tree, node, TVIF_IMAGE, item) ? item.iImage : 0;
}

std::wstring NodeText(HWND tree, HTREEITEM node) {
    // Store names are at most 256 characters.
    wchar_t text[260] = {};
    TVITEMW item{};
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    return ReadItem(tree, node, TVIF_TEXT, item) ? std::wstring(text) : std::wstring();
}

bool HasChildNamed(HWND tree, HTREEITEM node, const std::wstring& name) {
    for (HTREEITEM child = TreeView_GetChild(tree, node); child;
         child = TreeView_GetNextSibling(tree, child))
        if (NodeText(tree, child) == name)
            return true;
    return false;
}

void ResortNode(HWND tree, HTREEITEM node) {
    TVSORTCB sort{};
    sort.hParent = TreeView_GetParent(tree, node);
    if (!sort.hParent)
        sort.hParent = TVI_ROOT;
    sort.lpfnCompare = CompareNodes;
    TreeView_SortChildrenCB(tree, &sort, FALSE);
}

void Rebuild(HWND tree, IStoreNamespace* store, STOREFOLDERID wantedId, bool& suppressChange) {
    {
        RedrawGuard redraw(tree);
        {
            FlagSet suppress(suppressChange);
            // The nodes go, so an edit of one of them ends first, under the
            // flag: not the user's choice of a name.
            TreeView_EndEditLabelNow(tree, TRUE);
            TreeView_DeleteAllItems(tree);
        }
        if (store)
            AddAllFolders(tree, store, wantedId);
        HTREEITEM first = TreeView_GetRoot(tree);
        if (first && (!TreeView_GetSelection(tree) || wantedId == 0))
            TreeView_SelectItem(tree, first);
        // Every node went in expanded, so there is nothing left to expand.
    }
    // Scrolled only once the tree repaints again: until then it keeps its old
    // scroll range, and the node would stay out of view.
    if (HTREEITEM selected = TreeView_GetSelection(tree))
        TreeView_EnsureVisible(tree, selected);
}

} // namespace folder_tree
