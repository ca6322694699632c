// TFormFoldersList: the modal dialog in which the user picks a target folder.
// The caller fills its tree, sets what may not be chosen, shows it through
// the modal host and reads ChosenId afterwards. It never talks to the store.
#pragma once

#include "store/StoreApi.h"
#include "ui/Handles.h"
#include "ui/Modal.h"

#include <windows.h>
#include <commctrl.h>

#include <string>

class TFormFoldersList final : public ui::ModalDialog {
  public:
    static constexpr int kClientWidth = 265;
    static constexpr int kClientHeight = 284;

    // Creates the dialog hidden, owned by `owner`, so its tree can be filled.
    explicit TFormFoldersList(HWND owner);
    ~TFormFoldersList() override;
    TFormFoldersList(const TFormFoldersList&) = delete;
    TFormFoldersList& operator=(const TFormFoldersList&) = delete;

    // Shows the dialog until OK or Cancel; IDOK or IDCANCEL.
    INT_PTR RunModal(HWND owner) override;
    HWND Handle() const { return window_.Get(); }
    // The caller's folder pictures; the dialog does not own them.
    void SetImages(HIMAGELIST images);

    // ---- Fields, set before showing and read after --------------------------------------
    STOREFOLDERID SubjectId = 0;
    std::wstring SubjectName;
    STOREFOLDERID ForbiddenId = 0;
    STOREFOLDERID ChosenId = 0;

    // ---- Controls --------------------------------------------------------------------
    HWND TreeViewFolders = nullptr;
    HWND ButtonOK = nullptr;
    HWND ButtonCancel = nullptr;

    // Enables OK only when the selected node may be the target.
    void TreeViewFoldersChange(HTREEITEM node);

  private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void FormCreate();
    bool HandleNotify(const NMHDR* header);
    void SelectNodeUnderCursor();
    void ButtonOKClick();
    void Close(INT_PTR result);

    ui::UniqueWindow window_;
    ui::UniqueFont font_;
    bool running_ = false;
    // Shown without a selection: only the user's own pick selects a node.
    bool keepEmpty_ = false;
    INT_PTR result_ = IDCANCEL;
};
