// The folder menu and its commands: create a sub-folder, rename in place,
// delete, move. Each only asks the store; the tree changes when the store's
// notification arrives.
#pragma once

#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "store/StoreApi.h"
#include "ui/Handles.h"
#include "ui/Window.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

#include <optional>
#include <string>

namespace ui {
class ModalHost;
}

class FolderCommands {
  public:
    FolderCommands(const ui::Window& window, ui::ModalHost& modal, FolderTreeView& tree,
                   FolderSelection& selection);
    FolderCommands(const FolderCommands&) = delete;
    FolderCommands& operator=(const FolderCommands&) = delete;

    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }
    HMENU Menu() const { return menu_.Get(); }

    // Opens the menu for the node at `screen`, or beside the selected node when
    // `fromKeyboard`; the chosen entry comes back to the window as a command.
    void ContextPopup(POINT screen, bool fromKeyboard);
    void CreateSubFolder();
    void Rename();
    void Delete();
    void Move();
    // The step after the folder dialog, shared with a folder dropped on the tree.
    void MoveFolderTo(STOREFOLDERID id, STOREFOLDERID parentId);

    // The tree's in-place edit: whether it may start, and its end.
    bool Editing(HTREEITEM node) const;
    // The end of an edit posts WM_RENAMEEDITED; the window hands it back to
    // RenameEdited, so the checks and their boxes run once the edit is gone.
    void Edited(HTREEITEM node, const wchar_t* newText);
    void RenameEdited();
    // Delete and F2 on the selected folder.
    void KeyDown(WORD key);

  private:
    // The context folder: kept by id and name, never by node, because a
    // notification inside any modal window may rebuild the tree.
    struct ContextFolder {
        STOREFOLDERID id = 0;
        std::wstring name;
    };

    // An in-place rename the tree ended, checked once the edit is gone.
    struct PendingRename {
        STOREFOLDERID id = 0;
        std::wstring text;
    };

    HWND Owner() const { return window_.Hwnd(); }

    const ui::Window& window_;
    ui::ModalHost& modal_;
    FolderTreeView& tree_;
    FolderSelection& selection_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    ui::UniqueMenu menu_;
    std::optional<ContextFolder> context_;
    std::optional<PendingRename> pendingRename_;
};
