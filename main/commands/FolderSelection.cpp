// What a folder chosen in the main tree loads.
#include "main/commands/FolderSelection.h"

#include "ui/RedrawGuard.h"

void FolderSelection::Reset() {
    openFolder_.Reset();
    currentFolderId_ = 0;
}

void FolderSelection::Close() {
    if (!openFolder_)
        return;
    openFolder_->UnregisterNotification(0, window_.Hwnd());
    openFolder_.Reset();
}

void FolderSelection::Changed(HTREEITEM node) {
    if (tree_.Suppressed() || !node)
        return;
    STOREFOLDERID id = tree_.IdOf(node);
    if (id == currentFolderId_)
        return;
    currentFolderId_ = id;
    ShowPanel(id);
    FillList(id);
}

void FolderSelection::ShowPanel(STOREFOLDERID folderId) {
    panel_.Show(store_, folderId);
}

void FolderSelection::FillList(STOREFOLDERID folderId) {
    Close();
    RedrawGuard redraw(messages_.Handle());
    messages_.Clear();
    if (!store_)
        return;
    Microsoft::WRL::ComPtr<IStoreFolder> folder;
    if (store_->OpenFolder(folderId, 0, folder.GetAddressOf()) != S_OK || !folder)
        return;
    openFolder_ = folder;
    messages_.Append(folder.Get());
    folder->RegisterNotification(0, window_.Hwnd());
}
