#include "FolderTreeSync.h"

#include "FolderTree.h"
#include "StoreEnum.h"
#include "store/StoreRecords.h"
#include "ui/RedrawGuard.h"
#include "ui/Text.h"

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

namespace folder_tree {

namespace {

struct Wanted {
    STOREFOLDERID id;
    STOREFOLDERID parent;
    std::wstring name;
    int image;
    bool subFolders; // its children are asked for, and it goes in expanded
};

using Children = std::unordered_map<STOREFOLDERID, std::vector<const Wanted*>>;

// Every folder under the root as the rebuild walks them: a folder's children
// only when it reports sub-folders. A folder met twice is taken once, so a
// store that lists a folder under itself cannot make the walk endless.
std::vector<Wanted> ReadFolders(IStoreNamespace* store) {
    struct Level {
        Level(IStoreNamespace* store, STOREFOLDERID parentId) : folders(store), parent(parentId) {}
        store_enum::SubFolderEnum folders;
        STOREFOLDERID parent;
    };
    std::vector<Wanted> folders;
    std::unordered_set<STOREFOLDERID> seen;
    FOLDERPROPS props = store::NewFolderProps();
    std::vector<std::unique_ptr<Level>> levels;
    auto open = [&](STOREFOLDERID parentId) {
        auto level = std::make_unique<Level>(store, parentId);
        if (!level->folders.First(parentId, props))
            return false;
        levels.push_back(std::move(level));
        return true;
    };
    open(FOLDERID_ROOT);
    while (!levels.empty()) {
        if (seen.insert(props.FolderId).second) {
            folders.push_back({props.FolderId, levels.back()->parent,
                               ui::FromAnsi(store::FolderName(props)),
                               store::FolderTypeImage(props.sfType), props.cSubFolders > 0});
            if (props.cSubFolders > 0 && open(props.FolderId))
                continue;
        }
        while (!levels.empty() && !levels.back()->folders.Next(props))
            levels.pop_back();
    }
    return folders;
}

HTREEITEM Insert(HWND tree, HTREEITEM parent, HTREEITEM after, const Wanted& folder) {
    std::wstring name = folder.name;
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_STATE;
    insert.item.pszText = name.data();
    insert.item.lParam = static_cast<LPARAM>(folder.id);
    insert.item.iImage = folder.image;
    insert.item.iSelectedImage = folder.image;
    // Expanded from the start: expanding node by node afterwards costs far more.
    insert.item.state = folder.subFolders ? TVIS_EXPANDED | TVIS_EXPANDEDONCE : 0;
    insert.item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
    return reinterpret_cast<HTREEITEM>(
        SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
}

void SetItem(HWND tree, HTREEITEM node, UINT mask, const std::wstring* text, int image) {
    TVITEMW item{};
    item.mask = mask | TVIF_HANDLE;
    item.hItem = node;
    item.pszText = text ? const_cast<wchar_t*>(text->c_str()) : nullptr;
    item.iImage = image;
    item.iSelectedImage = image;
    TreeView_SetItem(tree, &item);
}

// Expanded exactly when it has children, as a fresh rebuild leaves it; a user
// may have folded it meanwhile.
void FixExpansion(HWND tree, HTREEITEM node, bool hasChildren) {
    const UINT state = TreeView_GetItemState(tree, node, TVIS_EXPANDED | TVIS_EXPANDEDONCE);
    if (hasChildren && !(state & TVIS_EXPANDED)) {
        TreeView_Expand(tree, node, TVE_EXPAND);
    } else if (!hasChildren && state) {
        TVITEMW item{};
        item.mask = TVIF_STATE | TVIF_HANDLE;
        item.hItem = node;
        item.stateMask = TVIS_EXPANDED | TVIS_EXPANDEDONCE;
        TreeView_SetItem(tree, &item);
    }
}

using Known = TreeSync::Known;
using KnownNodes = TreeSync::KnownNodes;

// Deletes the nodes of folders that went or moved to another parent, with
// what lies under them; a node whose name or picture changed stays.
void RemoveChanged(HWND tree, KnownNodes& known,
                   const std::unordered_map<STOREFOLDERID, const Wanted*>& byId) {
    std::unordered_map<STOREFOLDERID, bool> gone;
    std::vector<STOREFOLDERID> chain;
    // Up from each node until one is known to go or stay: a node goes with
    // its parent. Iterative, as folders may nest thousands deep.
    for (const auto& entry : known) {
        chain.clear();
        STOREFOLDERID at = entry.first;
        bool goes = false;
        for (;;) {
            auto decided = gone.find(at);
            if (decided != gone.end()) {
                goes = decided->second;
                break;
            }
            chain.push_back(at);
            auto node = known.find(at);
            auto want = byId.find(at);
            if (node == known.end() || want == byId.end() ||
                want->second->parent != node->second.parent) {
                goes = true;
                break;
            }
            if (node->second.parent == FOLDERID_ROOT)
                break;
            at = node->second.parent;
        }
        for (STOREFOLDERID id : chain)
            gone[id] = goes;
    }
    for (const auto& entry : gone) {
        if (!entry.second)
            continue;
        auto node = known.find(entry.first);
        auto parent = gone.find(node->second.parent);
        // Deleting a node deletes its sub-tree; only the topmost are deleted.
        if (parent == gone.end() || !parent->second)
            TreeView_DeleteItem(tree, node->second.node);
    }
    for (const auto& entry : gone)
        if (entry.second)
            known.erase(entry.first);
}

// Inserts the folders that have no node yet, parents before children, each
// at its id position among its siblings; puts changed names and pictures
// right. False when the tree refused a node.
bool AddMissing(HWND tree, KnownNodes& known, const Children& children) {
    std::vector<STOREFOLDERID> parents{FOLDERID_ROOT};
    for (size_t at = 0; at < parents.size(); ++at) {
        const STOREFOLDERID parentId = parents[at];
        auto found = children.find(parentId);
        if (found == children.end())
            continue;
        HTREEITEM parentNode = parentId == FOLDERID_ROOT ? TVI_ROOT : known.at(parentId).node;
        const std::vector<const Wanted*>& siblings = found->second;
        // Past the last node that stays, TVI_LAST is the place: a node handle
        // as the place costs the tree view a search through all its nodes.
        size_t pastKept = 0;
        for (size_t i = 0; i < siblings.size(); ++i)
            if (known.count(siblings[i]->id))
                pastKept = i + 1;
        HTREEITEM previous = nullptr;
        for (size_t i = 0; i < siblings.size(); ++i) {
            const Wanted& folder = *siblings[i];
            auto kept = known.find(folder.id);
            if (kept != known.end()) {
                Known& node = kept->second;
                if (node.name != folder.name)
                    SetItem(tree, node.node, TVIF_TEXT, &folder.name, 0);
                if (node.image != folder.image)
                    SetItem(tree, node.node, TVIF_IMAGE | TVIF_SELECTEDIMAGE, nullptr,
                            folder.image);
                node.name = folder.name;
                node.image = folder.image;
                previous = node.node;
            } else {
                HTREEITEM after = i >= pastKept ? TVI_LAST : previous ? previous : TVI_FIRST;
                HTREEITEM node = Insert(tree, parentNode, after, folder);
                if (!node)
                    return false;
                known.emplace(folder.id, Known{node, parentId, folder.name, folder.image});
                previous = node;
            }
            if (folder.subFolders)
                parents.push_back(folder.id);
        }
    }
    return true;
}

} // namespace

void TreeSync::Rebuild(HWND tree, IStoreNamespace* store, STOREFOLDERID wantedId,
                       bool& suppressChange) {
    const std::vector<Wanted> folders = store ? ReadFolders(store) : std::vector<Wanted>();
    std::unordered_map<STOREFOLDERID, const Wanted*> byId;
    Children children;
    for (const Wanted& folder : folders) {
        byId.emplace(folder.id, &folder);
        children[folder.parent].push_back(&folder);
    }
    for (auto& entry : children)
        std::sort(entry.second.begin(), entry.second.end(), [](const Wanted* a, const Wanted* b) {
            return static_cast<LONG>(a->id) < static_cast<LONG>(b->id);
        });
    // Which nodes had children before, to put their expansion right afterwards.
    std::unordered_set<STOREFOLDERID> hadChildren;
    {
        RedrawGuard redraw(tree);
        {
            FlagSet suppress(suppressChange);
            // Nodes may go, so an edit of one ends first, under the flag: not
            // the user's choice of a name. The selection is taken away too, so
            // that choosing the wanted folder below is a change the window
            // sees, as after emptying the tree.
            TreeView_EndEditLabelNow(tree, TRUE);
            TreeView_SelectItem(tree, nullptr);
            if (tree != tree_) {
                known_.clear();
                tree_ = tree;
            }
            if (known_.empty())
                TreeView_DeleteAllItems(tree);
            for (const auto& entry : known_)
                hadChildren.insert(entry.second.parent);
            RemoveChanged(tree, known_, byId);
        }
        if (!AddMissing(tree, known_, children)) {
            // An insert failed: the tree is short of nodes, and the next call
            // starts afresh rather than build on it.
            known_.clear();
        }
        for (const Wanted& folder : folders) {
            auto kept = known_.find(folder.id);
            if (kept != known_.end() && (folder.subFolders || hadChildren.count(folder.id)))
                FixExpansion(tree, kept->second.node, children.count(folder.id) != 0);
        }
        auto wanted = wantedId ? known_.find(wantedId) : known_.end();
        HTREEITEM target = wanted != known_.end() ? wanted->second.node : TreeView_GetRoot(tree);
        if (target)
            TreeView_SelectItem(tree, target);
    }
    // Scrolled only once the tree repaints again: until then it keeps its old
    // scroll range, and the node would stay out of view.
    if (HTREEITEM selected = TreeView_GetSelection(tree))
        TreeView_EnsureVisible(tree, selected);
}

void TreeSync::SetText(HWND tree, HTREEITEM node, const std::wstring& text) {
    SetItem(tree, node, TVIF_TEXT, &text, 0);
    auto known = known_.find(NodeId(tree, node));
    if (known != known_.end() && known->second.node == node)
        known->second.name = text;
}

} // namespace folder_tree
