#include "main/views/FolderTreeView.h"

#include "storeui/FolderTree.h"
#include "ui/Dpi.h"

HWND FolderTreeView::Create(HWND parent, int id, const controls::Place& place, HFONT font) {
    tree_ =
        controls::MakeChild(WC_TREEVIEWW, L"",
                            TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS |
                                TVS_EDITLABELS | TVS_NOTOOLTIPS | WS_TABSTOP,
                            WS_EX_CLIENTEDGE, place, parent, id, font);
    TreeView_SetIndent(tree_, ui::Scale(19, ui::ScreenDpi()));
    controls::MenuOnShiftF10(tree_);
    // Its own tips instead of the tree's, as the message list has them.
    tip_.Attach(tree_,
                [this](POINT client, LabelTip::Label& label) { return CutLabelAt(client, label); });
    return tree_;
}

void FolderTreeView::SetImages(HIMAGELIST images) {
    TreeView_SetImageList(tree_, images, TVSIL_NORMAL);
}

void FolderTreeView::Rebuild(IStoreNamespace* store, STOREFOLDERID wantedId) {
    // A drag's picture is hidden while the tree repaints beneath it, or it
    // would put back the old tree where it stood (nothing when no drag is on).
    const bool hidden = ImageList_DragShowNolock(FALSE) != FALSE;
    sync_.Rebuild(tree_, store, wantedId, suppress_);
    if (hidden) {
        UpdateWindow(tree_);
        ImageList_DragShowNolock(TRUE);
    }
}

HTREEITEM FolderTreeView::Selected() const {
    return TreeView_GetSelection(tree_);
}

STOREFOLDERID FolderTreeView::SelectedId() const {
    HTREEITEM node = Selected();
    return node ? IdOf(node) : 0;
}

STOREFOLDERID FolderTreeView::IdOf(HTREEITEM node) const {
    return folder_tree::NodeId(tree_, node);
}

HTREEITEM FolderTreeView::Find(STOREFOLDERID id) const {
    return folder_tree::FindNode(tree_, id);
}

HTREEITEM FolderTreeView::NodeAt(POINT client) const {
    TVHITTESTINFO hit{};
    hit.pt = client;
    HTREEITEM node = TreeView_HitTest(tree_, &hit);
    constexpr UINT kOnRow = TVHT_ONITEM | TVHT_ONITEMINDENT | TVHT_ONITEMBUTTON | TVHT_ONITEMRIGHT;
    return (hit.flags & kOnRow) ? node : nullptr;
}

bool FolderTreeView::SelectId(STOREFOLDERID id) {
    HTREEITEM node = Find(id);
    if (!node)
        return false;
    TreeView_SelectItem(tree_, node);
    return true;
}

bool FolderTreeView::IsPlain(HTREEITEM node) const {
    return folder_tree::NodeImage(tree_, node) == 0;
}

std::wstring FolderTreeView::Text(HTREEITEM node) const {
    return folder_tree::NodeText(tree_, node);
}

void FolderTreeView::SetText(HTREEITEM node, const std::wstring& text) {
    sync_.SetText(tree_, node, text);
}

POINT FolderTreeView::MenuPoint(HTREEITEM node) const {
    RECT label{};
    POINT at{0, 0};
    if (node && TreeView_GetItemRect(tree_, node, &label, TRUE))
        at = {label.left, label.bottom};
    ClientToScreen(tree_, &at);
    return at;
}

bool FolderTreeView::CutLabelAt(POINT client, LabelTip::Label& label) const {
    TVHITTESTINFO hit{};
    hit.pt = client;
    HTREEITEM node = TreeView_HitTest(tree_, &hit);
    RECT place{}, visible{};
    if (!node || !(hit.flags & TVHT_ONITEMLABEL) ||
        !TreeView_GetItemRect(tree_, node, &place, TRUE))
        return false;
    GetClientRect(tree_, &visible);
    if (place.left >= visible.left && place.right <= visible.right)
        return false;
    label.place = place;
    label.text = Text(node);
    return true;
}
