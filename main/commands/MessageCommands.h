// The message menu and the commands on the selected messages: mark as read or
// unread, move or copy to another folder, delete. Each only asks the store; the
// list changes when the store's notifications arrive.
#pragma once

#include "ui/WaitCursor.h"
#include "main/commands/FolderSelection.h"
#include "main/views/FolderTreeView.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Handles.h"
#include "ui/Window.h"

#include <windows.h>
#include <wrl/client.h>

namespace ui {
class ModalHost;
}

class MessageCommands {
  public:
    // `tree` lends the folder dialog its pictures and its rebuild guard.
    MessageCommands(const ui::Window& window, ui::ModalHost& modal, FolderTreeView& tree,
                    MessageListView& messages, const FolderSelection& selection,
                    ui::IdleWaitCursor& busy);
    MessageCommands(const MessageCommands&) = delete;
    MessageCommands& operator=(const MessageCommands&) = delete;

    // The window's namespace once start-up made it; null again at teardown.
    void Connect(IStoreNamespace* store) { store_ = store; }
    HMENU Menu() const { return menu_.Get(); }

    // Adjusts and opens the menu for the row at `screen`, or beside the
    // selected row when `fromKeyboard`; the chosen entry comes back to the
    // window as a command.
    void ContextPopup(POINT screen, bool fromKeyboard);
    void MarkAsRead();
    void MarkAsUnread();
    void MoveToFolder();
    void CopyToFolder();
    void Delete();
    // The step after the folder dialog, shared with rows dropped on the tree.
    void CopyMoveSelectedTo(STOREFOLDERID targetId, bool move);
    // Delete and Ctrl+A in the list.
    void KeyDown(WORD key);

  private:
    HWND Owner() const { return window_.Hwnd(); }
    void MarkSelected(BOOL read);
    void CopyMoveSelected(bool move);

    const ui::Window& window_;
    ui::ModalHost& modal_;
    FolderTreeView& tree_;
    MessageListView& messages_;
    const FolderSelection& selection_;
    ui::IdleWaitCursor& busy_;
    // The window's namespace, lent from start-up to teardown (Connect); a
    // step that outlives a modal window takes its own reference.
    IStoreNamespace* store_ = nullptr;
    ui::UniqueMenu menu_;
};
