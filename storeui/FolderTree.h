// Filling a folder tree from the store: one routine for the main window's tree
// and the folder selection dialog's tree.
#pragma once

#include "store/StoreApi.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace folder_tree {

// Sibling order: folder ids compared as signed 32-bit numbers; never 0, so the
// order of two nodes never depends on where the sort found them.
int CompareIds(STOREFOLDERID first, STOREFOLDERID second);
// The same comparison as a tree-view sort callback over item data.
int CALLBACK CompareNodes(LPARAM first, LPARAM second, LPARAM unused);
// Moves `node` to its id position among its siblings (after its data changed).
void ResortNode(HWND tree, HTREEITEM node);

// The folder id a node carries as its data word.
STOREFOLDERID NodeId(HWND tree, HTREEITEM node);

// The node carrying `id`, searched depth first; null when there is none.
HTREEITEM FindNode(HWND tree, STOREFOLDERID id);
// A node's image index: 0 for a plain folder, another for a special one.
int NodeImage(HWND tree, HTREEITEM node);
std::wstring NodeText(HWND tree, HTREEITEM node);
// True when a child of `node` has exactly `name` as its text.
bool HasChildNamed(HWND tree, HTREEITEM node, const std::wstring& name);

// Sets a flag for its lifetime and then gives it back its previous value, so
// a nested user (a rebuild while a menu holds the flag) leaves it as it was.
class FlagSet {
  public:
    explicit FlagSet(bool& flag) : flag_(flag), previous_(flag) { flag_ = true; }
    ~FlagSet() { flag_ = previous_; }
    FlagSet(const FlagSet&) = delete;
    FlagSet& operator=(const FlagSet&) = delete;

  private:
    bool& flag_;
    bool previous_;
};

// Empties `tree` and refills it with every folder under the root, each node
// already expanded and at its id position, selects the wanted folder (the
// first top-level one when it is missing or 0) and scrolls it into view.
// `suppressChange` is set while a label edit is ended and the old nodes are
// deleted, then restored. Repainting is stopped during the rebuild and restored
// even when a step throws; the scroll comes after it.
void Rebuild(HWND tree, IStoreNamespace* store, STOREFOLDERID wantedId, bool& suppressChange);

} // namespace folder_tree
