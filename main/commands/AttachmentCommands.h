// Saving the reading pane's attachments: one through the save dialog, or all
// into a chosen folder, asking before any file is replaced. The bytes written
// are the decoded part, exactly.
#pragma once

#include "main/views/ReadingPane.h"
#include "ui/Window.h"

#include <windows.h>

#include <string>
#include <vector>

namespace ui {
class ModalHost;
}

namespace attachment_files {

struct File {
    std::wstring name; // safe as one file name
    std::string bytes; // decoded
};

// Every attachment of the pane's message, decoded, with names made safe and
// unique among themselves ("name (2).ext").
std::vector<File> Collect(const ReadingPane& pane);
File CollectOne(const ReadingPane& pane, size_t index);

// Writes `bytes` to `path` through a temporary file that replaces it once
// all is on disk. Returns the text to show the user, empty on success.
std::wstring Write(const std::wstring& path, const std::string& bytes);

} // namespace attachment_files

class AttachmentCommands {
  public:
    AttachmentCommands(const ui::Window& window, ui::ModalHost& modal, ReadingPane& pane)
        : window_(window), modal_(modal), pane_(pane) {}
    AttachmentCommands(const AttachmentCommands&) = delete;
    AttachmentCommands& operator=(const AttachmentCommands&) = delete;

    void SaveOne(size_t index);
    void SaveAll();

  private:
    HWND Owner() const { return window_.Hwnd(); }

    const ui::Window& window_;
    ui::ModalHost& modal_;
    ReadingPane& pane_;
};
