// The commands that read one message, "Properties" and "Save to file", and the
// About link.
#pragma once

#include "main/commands/FolderSelection.h"
#include "main/views/MessageListView.h"
#include "ui/Window.h"

#include <windows.h>

namespace ui {
class ModalHost;
}

class MessageSourceCommands {
  public:
    MessageSourceCommands(const ui::Window& window, ui::ModalHost& modal, MessageListView& messages,
                          const FolderSelection& selection)
        : window_(window), modal_(modal), messages_(messages), selection_(selection) {}
    MessageSourceCommands(const MessageSourceCommands&) = delete;
    MessageSourceCommands& operator=(const MessageSourceCommands&) = delete;

    void Properties();
    void SaveToFile();
    // Enter or a double-click on a row shows its properties.
    void Activate(int row);
    // Opens the About box.
    void About();

  private:
    HWND Owner() const { return window_.Hwnd(); }

    const ui::Window& window_;
    ui::ModalHost& modal_;
    MessageListView& messages_;
    const FolderSelection& selection_;
};
