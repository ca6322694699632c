// The folder panel: a group box with the selected folder's properties, each
// value right-aligned to a fixed right edge, its caption to its left.
#pragma once

#include "Controls.h"
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

    HWND GroupBox = nullptr;
    HWND LabelFolderId = nullptr;
    HWND LabelcSubFolders = nullptr;
    HWND LabelFolderType = nullptr;
    HWND LabelcMessage = nullptr;
    HWND LabelcUnread = nullptr;
    // Caption labels, top to bottom.
    HWND LabelCaptions[5] = {};

  private:
    void SetValue(int row, const std::wstring& text);
    void FitValue(int row);
    std::array<HWND, 5> Values() const;
};
