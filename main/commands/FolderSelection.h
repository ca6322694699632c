// What choosing a folder in the main tree loads: the folder panel, and the
// message list with the folder opened for it and registered for the store's
// message notifications. Owns the open folder and the current folder id.
#pragma once

#include "main/views/FolderPanel.h"
#include "main/views/FolderTreeView.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

class FolderSelection {
  public:
    FolderSelection(const ui::Window& window, FolderTreeView& tree, FolderPanel& panel,
                    MessageListView& messages)
        : window_(window), tree_(tree), panel_(panel), messages_(messages) {}
    FolderSelection(const FolderSelection&) = delete;
    FolderSelection& operator=(const FolderSelection&) = delete;

    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }
    IStoreFolder* OpenedFolder() const { return openFolder_.Get(); }
    STOREFOLDERID CurrentFolderId() const { return currentFolderId_; }
    void SetCurrentFolderId(STOREFOLDERID id) { currentFolderId_ = id; }

    // Start-up: no folder open, none current.
    void Reset();
    // Teardown: the open folder unregistered and released.
    void Close();
    // The main tree's selection changed: loads the node's folder unless the
    // change is not the user's or the folder is the current one already.
    void Changed(HTREEITEM node);
    // Opens the folder, lists its messages and registers for its notifications.
    void FillList(STOREFOLDERID folderId);

  private:
    void ShowPanel(STOREFOLDERID folderId);

    const ui::Window& window_;
    FolderTreeView& tree_;
    FolderPanel& panel_;
    MessageListView& messages_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    Microsoft::WRL::ComPtr<IStoreFolder> openFolder_;
    STOREFOLDERID currentFolderId_ = 0;
};
