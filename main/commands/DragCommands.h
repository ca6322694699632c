// Rows or a folder dragged onto the main tree: the same store calls as the
// commands that pick their target in the folder dialog. Dragged out of the
// window, or copied with Ctrl+C, rows become .eml files and a folder an mbox
// file for whichever program takes them.
#pragma once

#include "main/commands/DragTracker.h"
#include "main/commands/ExportData.h"
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

#include <functional>
#include <memory>
#include <string>

class DragCommands {
  public:
    DragCommands(const ui::Window& window, FolderTreeView& tree, MessageListView& messages,
                 const FolderSelection& selection, FolderCommands& folders,
                 MessageCommands& messageCommands, std::function<void(const std::string&)> log)
        : window_(window), tree_(tree), messages_(messages), selection_(selection),
          folders_(folders), messageCommands_(messageCommands), log_(std::move(log)),
          leftOut_(std::make_shared<export_data::LeftOut>()) {}
    ~DragCommands() { Close(); }
    DragCommands(const DragCommands&) = delete;
    DragCommands& operator=(const DragCommands&) = delete;

    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }
    bool Active() const { return drag_.Active(); }
    // Starts a drag from the tree or the list, or ends one with Escape; false
    // for other notifications.
    bool HandleNotify(const NMHDR* header);
    // The window's mouse, key and capture messages while a drag is on, and
    // the timer that reports messages a target could not have.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Keys and right-clicks while a drag is on, before the loop dispatches them.
    bool PreTranslate(const MSG& message) { return drag_.PreTranslate(message); }
    void Cancel() { drag_.Cancel(); }
    // The window goes: no drag, and the clipboard no longer offers its messages.
    void Close();

  private:
    void BeginFolderDrag(HTREEITEM node);
    void BeginRowsDrag(int row);
    Microsoft::WRL::ComPtr<IDataObject> SelectedRows();
    void CopyRows();

    const ui::Window& window_;
    FolderTreeView& tree_;
    MessageListView& messages_;
    const FolderSelection& selection_;
    FolderCommands& folders_;
    MessageCommands& messageCommands_;
    std::function<void(const std::string&)> log_;
    std::shared_ptr<export_data::LeftOut> leftOut_;
    Microsoft::WRL::ComPtr<IDataObject> clipboard_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    DragTracker drag_;
};
