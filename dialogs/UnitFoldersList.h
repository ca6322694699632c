// TFormFoldersList: the modal dialog in which the user picks a target folder.
// The caller sets its fields (among them the routine that fills its tree),
// shows it through the modal host and reads ChosenId afterwards. It never
// talks to the store.
#pragma once

#include "UnitFoldersListIds.h"
#include "store/StoreApi.h"
#include "ui/Dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

class TFormFoldersList final : public ui::Dialog {
  public:
    static constexpr int kClientWidth = 265;
    static constexpr int kClientHeight = 284;

    TFormFoldersList();

    // ---- Fields, set before showing -------------------------------------------------
    // Fills the tree when the dialog starts; its selection is where the dialog
    // starts. Without it the tree stays empty.
    std::function<void(HWND tree)> FillTree;
    // The caller's folder pictures; the dialog does not own them.
    HIMAGELIST Images = nullptr;
    STOREFOLDERID SubjectId = 0;
    std::wstring SubjectName;
    STOREFOLDERID ForbiddenId = 0;
    // OK starts disabled whatever is selected; the user's next selection decides.
    bool StartWithOKDisabled = false;

    // ---- Read after -------------------------------------------------------------------
    STOREFOLDERID ChosenId = 0;

    // ---- Controls, while the window exists -------------------------------------------
    HWND TreeViewFolders() const { return Item(IDC_FOLDERSLIST_TREE); }
    HWND ButtonOK() const { return Item(IDOK); }
    HWND ButtonCancel() const { return Item(IDCANCEL); }

  private:
    void OnInit() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void PlaceControls();
    bool HandleNotify(const NMHDR* header);
    // Enables OK only when the selected node may be the target.
    void TreeViewFoldersChange(HTREEITEM node);
    void SelectNodeUnderCursor();
    void ButtonOKClick();

    // Shown without a selection: only the user's own pick selects a node.
    bool keepEmpty_ = false;
};
