// The two commands that read one message: "Properties", which shows the
// message's fields and whole source, and "Save to file", which writes the
// source unchanged to a file the user picks. The steps take the folder and
// the message; the class runs them on the list's selection.
#pragma once

#include "dialogs/UnitMessProps.h"
#include "main/commands/FolderSelection.h"
#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <optional>
#include <string>

namespace ui {
class ModalHost;
}

namespace message_source {

// The properties dialog's value labels, as they show a record.
using PropsTexts = TFormMessProps::Texts;
PropsTexts TextsOf(const MESSAGEPROPS& props);

// A message's source copied into memory and positioned at its start; no
// stream when the store cannot give it.
struct Source {
    Microsoft::WRL::ComPtr<IStream> stream;
    unsigned long long size = 0; // bytes the copy wrote
};
Source ReadSource(IStoreFolder* folder, MESSAGEID id);

// Fills the properties dialog with the message and its source and shows it.
void ShowProperties(IStoreFolder* folder, MESSAGEID id, HWND owner, ui::ModalHost& modal);

// Asks for a file name and saves the selected message's source there; does
// nothing without a selected message.
void SaveToFile(IStoreFolder* folder, std::optional<MESSAGEID> selected, HWND owner,
                ui::ModalHost& modal);

// Writes the whole stream to `path` through a temporary file in the same
// folder, which replaces `path` only once every byte is on disk. Returns the
// text to show the user, empty on success.
std::wstring SaveSource(IStream* source, const std::wstring& path);

} // namespace message_source

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

  private:
    HWND Owner() const { return window_.Hwnd(); }

    const ui::Window& window_;
    ui::ModalHost& modal_;
    MessageListView& messages_;
    const FolderSelection& selection_;
};
