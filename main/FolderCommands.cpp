// The folder menu and its commands. Each only asks the store; the tree
// changes when the store's notification arrives. Notifications are delivered
// inside every modal window's loop and may rebuild the tree, so nodes are
// looked up again by id after each one.
#include "storeui/FolderTree.h"
#include "MainUnit.h"
#include "dialogs/UnitFoldersList.h"
#include "ui/Menu.h"
#include "ui/Modal.h"
#include "ui/Text.h"

namespace {

constexpr int kCreateAttempts = 5;

// Shown when a typed name holds a character the store's 8-bit texts cannot
// carry: storing it would put another character in its place.
constexpr wchar_t kUnstorableName[] =
    L" The name holds characters that cannot be stored. Please choose another one. ";

// Only the letters a-z are folded; every other character compares as it is.
std::wstring UpperAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

bool SiblingHasName(HWND tree, HTREEITEM node, const std::wstring& name) {
    const std::wstring wanted = UpperAscii(name);
    for (HTREEITEM other = TreeView_GetNextSibling(tree, node); other;
         other = TreeView_GetNextSibling(tree, other))
        if (UpperAscii(folder_tree::NodeText(tree, other)) == wanted)
            return true;
    for (HTREEITEM other = TreeView_GetPrevSibling(tree, node); other;
         other = TreeView_GetPrevSibling(tree, other))
        if (UpperAscii(folder_tree::NodeText(tree, other)) == wanted)
            return true;
    return false;
}

} // namespace

void TBrisvanderMain::TreeViewFoldersContextPopup(POINT screen, bool fromKeyboard) {
    HTREEITEM node = nullptr;
    if (fromKeyboard) {
        node = tree_.Selected();
    } else {
        POINT client = screen;
        ScreenToClient(TreeViewFolders, &client);
        node = tree_.NodeAt(client);
    }
    context_.reset();
    if (!node)
        return;
    context_ = ContextFolder{tree_.IdOf(node), tree_.Text(node)};
    const bool hadSelection = tree_.Selected() != nullptr;
    const STOREFOLDERID rememberedId = tree_.SelectedId();
    const bool plain = tree_.IsPlain(node);
    UINT command = 0;
    {
        // Highlighted while the menu is open, without loading it.
        folder_tree::FlagSet suppress(tree_.SuppressFlag());
        TreeView_SelectItem(TreeViewFolders, node);
        ui::EnableItem(PopupMenuFolders, IDM_CREATESUBFOLDER1, true);
        ui::EnableItem(PopupMenuFolders, IDM_RENAME1, plain);
        ui::EnableItem(PopupMenuFolders, IDM_DELETE1, plain);
        ui::EnableItem(PopupMenuFolders, IDM_MOVE1, plain);
        command = Modal().ShowMenu(hwnd_, PopupMenuFolders,
                                   fromKeyboard ? tree_.MenuPoint(node) : screen);
        if (hadSelection)
            tree_.SelectId(rememberedId);
    }
    // When the remembered folder went while the menu was open, load what the
    // tree shows now.
    TreeViewFoldersChange(tree_.Selected());
    if (command)
        SendMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void TBrisvanderMain::CreateSubFolder1Click() {
    if (!context_ || !namespace_ || !tree_.Find(context_->id))
        return;
    const STOREFOLDERID parentId = context_->id;
    // Held across the boxes, whatever a notification does meanwhile.
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = namespace_;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::wstring name;
        if (!Modal().InputBox(hwnd_, L"Create SubFolder", L"New folder name:", name))
            name.clear();
        if (name.empty())
            return;
        HTREEITEM parent = tree_.Find(parentId);
        if (!parent)
            return; // gone while the box was open
        if (!ui::FitsAnsi(name)) {
            Modal().ShowMessage(hwnd_, kUnstorableName, L" Create folder error",
                                MB_OK | MB_ICONERROR);
            continue;
        }
        if (!folder_tree::HasChildNamed(TreeViewFolders, parent, name)) {
            STOREFOLDERID created = 0;
            store->CreateFolder(parentId, ui::ToAnsi(name).c_str(), 0, &created);
            return;
        }
        Modal().ShowMessage(hwnd_, L" Folder with same name already exists. ",
                            L" Create folder error", MB_OK | MB_ICONERROR);
    }
}

void TBrisvanderMain::Rename1Click() {
    if (!context_)
        return;
    HTREEITEM node = tree_.Find(context_->id);
    if (!node || !tree_.IsPlain(node))
        return;
    SetFocus(TreeViewFolders);
    TreeView_EditLabel(TreeViewFolders, node);
}

bool TBrisvanderMain::TreeViewFoldersEditing(HTREEITEM node) {
    // However the edit starts (the menu, F2, a click on a selected label).
    return node && tree_.IsPlain(node);
}

void TBrisvanderMain::TreeViewFoldersEdited(HTREEITEM node, const wchar_t* newText) {
    if (!node || !newText || tree_.Suppressed())
        return; // the edit was cancelled, or a rebuild ended it
    pendingRename_ = PendingRename{tree_.IdOf(node), newText};
    PostMessageW(hwnd_, kRenameEdited, 0, 0);
}

void TBrisvanderMain::RenameEdited() {
    std::optional<PendingRename> rename = std::exchange(pendingRename_, std::nullopt);
    if (!rename || !namespace_)
        return;
    HTREEITEM node = tree_.Find(rename->id);
    if (!node || !tree_.IsPlain(node))
        return;
    if (SiblingHasName(TreeViewFolders, node, rename->text)) {
        // The tree never took the new text, so the old one is still shown.
        Modal().ShowMessage(hwnd_,
                            L"The folder with this name already exists. Please choose another one",
                            L"Error", MB_OK | MB_ICONSTOP);
        return;
    }
    // The old text back (the name as the tree shows it) is no new name: a name
    // the code page cannot show would be stored as its '?' form.
    if (rename->text == tree_.Text(node))
        return;
    if (!ui::FitsAnsi(rename->text)) {
        Modal().ShowMessage(hwnd_, kUnstorableName, L" Rename folder error", MB_OK | MB_ICONERROR);
        return;
    }
    if (namespace_->RenameFolder(rename->id, 0, ui::ToAnsi(rename->text).c_str()) != S_OK)
        return;
    if (HTREEITEM renamed = tree_.Find(rename->id))
        tree_.SetText(renamed, rename->text);
}

void TBrisvanderMain::Delete1Click() {
    if (!context_ || !namespace_)
        return;
    const STOREFOLDERID id = context_->id;
    if (!tree_.Find(id))
        return; // gone while the menu was open
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = namespace_;
    if (Modal().ShowMessage(hwnd_, L" Do you want delete folder? ", L" Delete folder",
                            MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) != IDYES)
        return;
    if (!tree_.Find(id))
        return; // gone while the question was open
    store->DeleteFolder(id, 0);
}

void TBrisvanderMain::Move1Click() {
    if (!context_ || !namespace_)
        return;
    const STOREFOLDERID id = context_->id;
    HTREEITEM node = tree_.Find(id);
    if (!node)
        return;
    HTREEITEM parent = TreeView_GetParent(TreeViewFolders, node);
    const STOREFOLDERID parentId = parent ? tree_.IdOf(parent) : 0;
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = namespace_;
    STOREFOLDERID chosen = 0;
    {
        TFormFoldersList dialog(hwnd_);
        dialog.SetImages(ImageListFolders);
        folder_tree::Rebuild(dialog.TreeViewFolders, store.Get(), id, tree_.SuppressFlag());
        dialog.SubjectId = id;
        dialog.SubjectName = context_->name;
        dialog.ForbiddenId = parentId;
        // Takes the moved folder and its sub-tree out of the choice; if the
        // folder went meanwhile, the rebuild selected another one.
        HWND choice = dialog.TreeViewFolders;
        HTREEITEM selected = TreeView_GetSelection(choice);
        if (selected && folder_tree::NodeId(choice, selected) == id) {
            TreeView_DeleteItem(choice, selected);
            // The tree moved the selection on to a folder the user never
            // picked; the old parent (which OK refuses) or nothing instead.
            HTREEITEM oldParent = parentId ? folder_tree::FindNode(choice, parentId) : nullptr;
            TreeView_SelectItem(choice, oldParent);
            dialog.TreeViewFoldersChange(TreeView_GetSelection(choice));
        }
        Modal().ShowModal(hwnd_, dialog);
        chosen = dialog.ChosenId;
    }
    MoveFolderTo(id, chosen);
}

void TBrisvanderMain::MoveFolderTo(STOREFOLDERID id, STOREFOLDERID parentId) {
    if (static_cast<LONG>(parentId) > 0 && namespace_ && tree_.Find(id))
        namespace_->MoveFolder(id, parentId, 0);
}

void TBrisvanderMain::TreeViewFoldersKeyDown(WORD key) {
    HTREEITEM node = tree_.Selected();
    if (!node || !tree_.IsPlain(node))
        return;
    if (key != VK_DELETE && key != VK_F2)
        return;
    context_ = ContextFolder{tree_.IdOf(node), tree_.Text(node)};
    if (key == VK_DELETE)
        Delete1Click();
    else
        Rename1Click();
}
