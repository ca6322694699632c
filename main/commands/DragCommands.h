// Rows or a folder dragged onto the main tree: the same store calls as the
// commands that pick their target in the folder dialog.
#pragma once

#include "main/commands/DragTracker.h"
#include "main/commands/FolderCommands.h"
#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "main/commands/MessageCommands.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include <windows.h>
#include <commctrl.h>
#include <wrl/client.h>

class DragCommands {
  public:
    DragCommands(const ui::Window& window, FolderTreeView& tree, MessageListView& messages,
                 const FolderSelection& selection, FolderCommands& folders,
                 MessageCommands& messageCommands)
        : window_(window), tree_(tree), messages_(messages), selection_(selection),
          folders_(folders), messageCommands_(messageCommands) {}
    DragCommands(const DragCommands&) = delete;
    DragCommands& operator=(const DragCommands&) = delete;

    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }
    bool Active() const { return drag_.Active(); }
    // Starts a drag from the tree or the list, or ends one with Escape; false
    // for other notifications.
    bool HandleNotify(const NMHDR* header);
    // The window's mouse, key and capture messages while a drag is on.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        return drag_.HandleMessage(message, wParam, lParam);
    }
    void Cancel() { drag_.Cancel(); }

  private:
    void BeginFolderDrag(HTREEITEM node);
    void BeginRowsDrag(int row);

    const ui::Window& window_;
    FolderTreeView& tree_;
    MessageListView& messages_;
    const FolderSelection& selection_;
    FolderCommands& folders_;
    MessageCommands& messageCommands_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    DragTracker drag_;
};
