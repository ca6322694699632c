// The folder panel: a group box with the selected folder's properties, each
// value right-aligned to a fixed right edge, its caption to its left.
#pragma once

#include "main/views/Controls.h"
#include "store/StoreApi.h"

#include <windows.h>

#include <array>
#include <string>

class FolderPanel {
  public:
    FolderPanel() = default;
    FolderPanel(const FolderPanel&) = delete;
    FolderPanel& operator=(const FolderPanel&) = delete;

    HWND Create(HWND parent, int id, const controls::Place& place, HFONT font);
    // Shows the folder's properties; leaves every label as it was when the
    // store cannot read them.
    void Show(IStoreNamespace* store, STOREFOLDERID folderId);
    // True for the five value labels, which are drawn in navy.
    bool IsValue(HWND control) const;

    HWND GroupBox() const { return groupBox_; }
    HWND LabelFolderId() const { return values_[0]; }
    HWND LabelcSubFolders() const { return values_[1]; }
    HWND LabelFolderType() const { return values_[2]; }
    HWND LabelcMessage() const { return values_[3]; }
    HWND LabelcUnread() const { return values_[4]; }
    // Caption labels, top to bottom.
    const std::array<HWND, 5>& LabelCaptions() const { return captions_; }

  private:
    void SetValue(int row, const std::wstring& text);
    void FitValue(int row);

    HWND groupBox_ = nullptr;
    // Value labels, top to bottom: folder id, sub-folders, type, messages, unread.
    std::array<HWND, 5> values_{};
    std::array<HWND, 5> captions_{};
};
