// The message menu and its commands. Each only asks the store; the list
// changes when the store's notifications arrive.
#include "main/commands/MessageCommands.h"

#include "main/commands/MainWindowIds.h"
#include "storeui/FolderTree.h"
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

MessageCommands::MessageCommands(const ui::Window& window, ui::ModalHost& modal,
                                 FolderTreeView& tree, MessageListView& messages,
                                 const FolderSelection& selection, ui::IdleWaitCursor& busy)
    : window_(window), modal_(modal), tree_(tree), messages_(messages), selection_(selection),
      busy_(busy), menu_(CreatePopupMenu()) {
    HMENU menu = menu_.Get();
    ui::AppendItem(menu, IDM_MARKASREAD1, L"Mark as read");
    ui::AppendItem(menu, IDM_MARKASUNREAD1, L"Mark as unread");
    ui::AppendSeparator(menu);
    ui::AppendItem(menu, IDM_MOVETOFOLDER1, L"Move to folder...");
    ui::AppendItem(menu, IDM_COPYTOFOLDER1, L"Copy to folder...");
    ui::AppendSeparator(menu);
    ui::AppendItem(menu, IDM_DELETE2, L"Delete");
    ui::AppendSeparator(menu);
    ui::AppendItem(menu, IDM_SAVETOFILE1, L"Save to file");
    ui::AppendSeparator(menu);
    ui::AppendItem(menu, IDM_PROPERTIES1, L"Properties");
}

void MessageCommands::ContextPopup(POINT screen, bool fromKeyboard) {
    int row = -1;
    POINT at = screen;
    if (fromKeyboard) {
        at = messages_.MenuPoint();
        row = messages_.MenuRow();
    } else {
        if (messages_.OverHeader(screen))
            return; // the headers sort; they have no menu
        POINT client = screen;
        ScreenToClient(messages_.Handle(), &client);
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
    ui::EnableItem(menu_.Get(), IDM_MARKASUNREAD1, unread);
    ui::EnableItem(menu_.Get(), IDM_MARKASREAD1, read);
    ui::EnableItem(menu_.Get(), IDM_PROPERTIES1, selected < 2);
    ui::EnableItem(menu_.Get(), IDM_SAVETOFILE1, selected < 2);
    if (UINT command = modal_.ShowMenu(Owner(), menu_.Get(), at))
        SendMessageW(Owner(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void MessageCommands::MarkAsRead() {
    MarkSelected(static_cast<BOOL>(-1));
}

void MessageCommands::MarkAsUnread() {
    MarkSelected(FALSE);
}

void MessageCommands::MarkSelected(BOOL read) {
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    IStoreFolder* folder = selection_.OpenedFolder();
    if (ids.empty() || !folder)
        return;
    MESSAGEIDLIST list = IdList(ids);
    busy_.UntilIdle();
    folder->MarkMessagesAsRead(read, 0, &list);
}

void MessageCommands::Delete() {
    // Held across the question; when another folder is listed afterwards, the
    // selection is no longer the one the question was about.
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = selection_.OpenedFolder();
    // Asked even with nothing selected.
    if (modal_.ShowMessage(Owner(), L" Do you want delete selected message(s)? ",
                           L" Delete message(s)",
                           MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) != IDYES)
        return;
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    if (ids.empty() || !folder || folder.Get() != selection_.OpenedFolder())
        return;
    MESSAGEIDLIST list = IdList(ids);
    busy_.UntilIdle();
    messages_.DeleteRequested();
    if (folder->DeleteMessages(&list, 0, nullptr) != S_OK)
        messages_.DeleteFailed();
}

void MessageCommands::MoveToFolder() {
    CopyMoveSelected(true);
}

void MessageCommands::CopyToFolder() {
    CopyMoveSelected(false);
}

void MessageCommands::CopyMoveSelected(bool move) {
    if (!store_)
        return;
    // Both held across the dialog, as in Delete.
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    const Microsoft::WRL::ComPtr<IStoreFolder> source = selection_.OpenedFolder();
    const STOREFOLDERID current = selection_.CurrentFolderId();
    STOREFOLDERID chosen = 0;
    {
        TFormFoldersList dialog;
        dialog.Images = TreeView_GetImageList(tree_.Handle(), TVSIL_NORMAL);
        dialog.FillTree = [&store, current](HWND tree) {
            bool suppress = false;
            folder_tree::Rebuild(tree, store.Get(), current, suppress);
        };
        dialog.SubjectId = current;
        dialog.ForbiddenId = current;
        // Enabled only once the user selects another folder.
        dialog.StartWithOKDisabled = true;
        modal_.ShowModal(Owner(), dialog);
        chosen = dialog.ChosenId;
    }
    if (!source || source.Get() != selection_.OpenedFolder())
        return;
    CopyMoveSelectedTo(chosen, move);
}

void MessageCommands::CopyMoveSelectedTo(STOREFOLDERID targetId, bool move) {
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    const Microsoft::WRL::ComPtr<IStoreFolder> source = selection_.OpenedFolder();
    if (static_cast<LONG>(targetId) <= 0 || !store || !source)
        return;
    std::vector<MESSAGEID> ids = messages_.SelectedIds();
    if (ids.empty())
        return;
    MESSAGEIDLIST list = IdList(ids);
    busy_.UntilIdle();
    Microsoft::WRL::ComPtr<IStoreFolder> target;
    if (store->OpenFolder(targetId, 0, target.GetAddressOf()) != S_OK || !target ||
        store->CopyMoveMessages(source.Get(), target.Get(), &list, move ? 1 : 0,
                                kCopyMoveRemoveFlags, nullptr) != S_OK)
        modal_.ShowMessage(Owner(), L" Can't copy/move message(s) ", L" Error",
                           MB_OK | MB_ICONERROR);
}

void MessageCommands::KeyDown(WORD key) {
    if (key == VK_DELETE)
        Delete();
    else if (key == 'A' && (GetKeyState(VK_CONTROL) & 0x8000))
        messages_.SelectAll();
    else if (key == 'F' && (GetKeyState(VK_CONTROL) & 0x8000))
        messages_.OpenFind();
    else if (key == VK_F3)
        messages_.FindAgain(!(GetKeyState(VK_SHIFT) & 0x8000));
}
