// The main window's folder tree: owns its tree control and the flag that keeps
// selection changes from loading a folder while they are not the user's.
#pragma once

#include "main/views/Controls.h"
#include "main/views/LabelTip.h"
#include "store/StoreApi.h"
#include "storeui/FolderTreeSync.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

class FolderTreeView {
  public:
    FolderTreeView() = default;
    FolderTreeView(const FolderTreeView&) = delete;
    FolderTreeView& operator=(const FolderTreeView&) = delete;

    // Creates the tree: lines, buttons, in-place editing, selection kept visible.
    HWND Create(HWND parent, int id, const controls::Place& place, HFONT font);
    HWND Handle() const { return tree_; }
    void SetImages(HIMAGELIST images);

    // Makes the tree what a refill from the store would, changing only the
    // nodes that differ, and selects the wanted folder.
    void Rebuild(IStoreNamespace* store, STOREFOLDERID wantedId);

    // While set, selection changes are not the user's choice of a folder.
    bool Suppressed() const { return suppress_; }
    bool& SuppressFlag() { return suppress_; }

    HTREEITEM Selected() const;
    // The selected node's id, 0 when nothing is selected.
    STOREFOLDERID SelectedId() const;
    STOREFOLDERID IdOf(HTREEITEM node) const;
    HTREEITEM Find(STOREFOLDERID id) const;
    // The node on whose row `client` lies; null over empty space.
    HTREEITEM NodeAt(POINT client) const;
    // Selects the node of `id` if there is one; false when it is gone.
    bool SelectId(STOREFOLDERID id);
    // Special folders (any image but 0) cannot be renamed, deleted or moved.
    bool IsPlain(HTREEITEM node) const;
    std::wstring Text(HTREEITEM node) const;
    void SetText(HTREEITEM node, const std::wstring& text);
    // The screen point beside the node's label where a keyboard menu opens.
    POINT MenuPoint(HTREEITEM node) const;

    // A node's label cut short under a point, for its label tip.
    bool CutLabelAt(POINT client, LabelTip::Label& label) const;
    LabelTip& Tip() { return tip_; }

  private:
    HWND tree_ = nullptr;
    LabelTip tip_;
    folder_tree::TreeSync sync_;
    bool suppress_ = false;
};
