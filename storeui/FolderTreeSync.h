// A folder tree kept equal to what a full rebuild would make of it, by
// changing only the nodes that differ: one folder created elsewhere in a store
// of 10,000 would otherwise cost deleting and inserting all 10,000 nodes.
#pragma once

#include "store/StoreApi.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <unordered_map>

namespace folder_tree {

class TreeSync {
  public:
    // Leaves `tree` as folder_tree::Rebuild(tree, store, wantedId, suppress)
    // would: the same nodes, texts, pictures, order, expansion, selection and
    // scroll. Nodes that stay keep their handles. The tree must be changed by
    // no one else but SetText, or the next call starts from an empty tree.
    void Rebuild(HWND tree, IStoreNamespace* store, STOREFOLDERID wantedId, bool& suppressChange);
    // A node's text set after a rename in place.
    void SetText(HWND tree, HTREEITEM node, const std::wstring& text);

    // A node as last set, by its folder's id.
    struct Known {
        HTREEITEM node;
        STOREFOLDERID parent;
        std::wstring name;
        int image;
    };
    using KnownNodes = std::unordered_map<STOREFOLDERID, Known>;

  private:
    HWND tree_ = nullptr;
    KnownNodes known_;
};

} // namespace folder_tree
