// The message menu and its commands. Each only asks the store; the list
// changes when the store's notifications arrive.
#include "storeui/FolderTree.h"
#include "MainUnit.h"
#include "dialogs/UnitFoldersList.h"
#include "resources/ImageLists.h"
#include "ui/Menu.h"
#include "ui/Modal.h"

namespace {

constexpr DWORD kCopyMoveRemoveFlags = 2;

// The selection id list: the record points into `ids`, which must outlive it.
MESSAGEIDLIST IdList(std::vector<MESSAGEID>& ids) {
    return MESSAGEIDLIST{MESSAGEIDLIST_SIZE, static_cast<DWORD>(ids.size()), ids.data()};
}

} // namespace

void TBrisvanderMain::ListViewMessagesContextPopup(POINT screen, bool fromKeyboard) {
    int row = -1;
    POINT at = screen;
    if (fromKeyboard) {
        at = messages_.MenuPoint();
        row = messages_.MenuRow();
    } else {
        POINT client = screen;
        ScreenToClient(ListViewMessages, &client);
        row = messages_.RowAt(client);
    }
    const int selected = messages_.SelectedCount();
    bool unread = true;
    bool read = true;
    if (row >= 0 && selected == 1) {
        const bool isUnread = messages_.ImageOf(row) == kMessageImageUnread;
        unread = !isUnread;
        read = isUnread;
    }
    ui::EnableItem(PopupMenuMessages, IDM_MARKASUNREAD1, unread);
    ui::EnableItem(PopupMenuMessages, IDM_MARKASREAD1, read);
    ui::EnableItem(PopupMenuMessages, IDM_PROPERTIES1, selected < 2);
    ui::EnableItem(PopupMenuMessages, IDM_SAVETOFILE1, selected < 2);
    if (UINT command = Modal().ShowMenu(hwnd_, PopupMenuMessages, at))
        SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void TBrisvanderMain::Markasread1Click() {
    MarkSelected(static_cast<BOOL>(-1));
}

void TBrisvanderMain::Markasunread1Click() {
    MarkSelected(FALSE);
}

void TBrisvanderMain::MarkSelected(BOOL read) {
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    if (ids.empty() || !openFolder_)
        return;
    MESSAGEIDLIST list = IdList(ids);
    BusyUntilIdle();
    openFolder_->MarkMessagesAsRead(read, 0, &list);
}

void TBrisvanderMain::Delete2Click() {
    // Held across the question; when another folder is listed afterwards, the
    // selection is no longer the one the question was about.
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = openFolder_;
    // Asked even with nothing selected.
    if (Modal().ShowMessage(hwnd_, L" Do you want delete selected message(s)? ",
                            L" Delete message(s)",
                            MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) != IDYES)
        return;
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    if (ids.empty() || !folder || folder != openFolder_)
        return;
    MESSAGEIDLIST list = IdList(ids);
    BusyUntilIdle();
    folder->DeleteMessages(&list, 0, nullptr);
}

void TBrisvanderMain::Movetofolder1Click() {
    CopyMoveSelected(true);
}

void TBrisvanderMain::Copytofolder1Click() {
    CopyMoveSelected(false);
}

void TBrisvanderMain::CopyMoveSelected(bool move) {
    if (!namespace_)
        return;
    // Both held across the dialog, as in Delete2Click.
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = namespace_;
    const Microsoft::WRL::ComPtr<IStoreFolder> source = openFolder_;
    STOREFOLDERID chosen = 0;
    {
        TFormFoldersList dialog(hwnd_);
        dialog.SetImages(ImageListFolders);
        folder_tree::Rebuild(dialog.TreeViewFolders, store.Get(), currentFolderId_,
                             tree_.SuppressFlag());
        dialog.SubjectId = currentFolderId_;
        dialog.ForbiddenId = currentFolderId_;
        dialog.SubjectName.clear();
        // Enabled only once the user selects another folder.
        EnableWindow(dialog.ButtonOK, FALSE);
        Modal().ShowModal(hwnd_, dialog);
        chosen = dialog.ChosenId;
    }
    if (!source || source != openFolder_)
        return;
    CopyMoveSelectedTo(chosen, move);
}

void TBrisvanderMain::CopyMoveSelectedTo(STOREFOLDERID targetId, bool move) {
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = namespace_;
    const Microsoft::WRL::ComPtr<IStoreFolder> source = openFolder_;
    if (static_cast<LONG>(targetId) <= 0 || !store || !source)
        return;
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    if (ids.empty())
        return;
    MESSAGEIDLIST list = IdList(ids);
    BusyUntilIdle();
    Microsoft::WRL::ComPtr<IStoreFolder> target;
    if (store->OpenFolder(targetId, 0, target.GetAddressOf()) != S_OK || !target ||
        store->CopyMoveMessages(source.Get(), target.Get(), &list, move ? 1 : 0,
                                kCopyMoveRemoveFlags, nullptr) != S_OK)
        Modal().ShowMessage(hwnd_, L" Can't copy/move message(s) ", L" Error",
                            MB_OK | MB_ICONERROR);
}

void TBrisvanderMain::ListViewMessagesKeyDown(WORD key) {
    if (key == VK_DELETE)
        Delete2Click();
    else if (key == 'A' && (GetKeyState(VK_CONTROL) & 0x8000))
        messages_.SelectAll();
}
