// The folder menu and its commands. Each only asks the store; the tree
// changes when the store's notification arrives. Notifications are delivered
// inside every modal window's loop and may rebuild the tree, so nodes are
// looked up again by id after each one.
#include "main/commands/FolderCommands.h"

#include "main/commands/MainWindowIds.h"
#include "storeui/FolderTree.h"
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

FolderCommands::FolderCommands(const ui::Window& window, ui::ModalHost& modal, FolderTreeView& tree,
                               FolderSelection& selection)
    : window_(window), modal_(modal), tree_(tree), selection_(selection), menu_(CreatePopupMenu()) {
    HMENU menu = menu_.Get();
    ui::AppendItem(menu, IDM_CREATESUBFOLDER1, L"Create SubFolder");
    ui::AppendSeparator(menu);
    ui::AppendItem(menu, IDM_RENAME1, L"Rename");
    ui::AppendItem(menu, IDM_DELETE1, L"Delete");
    ui::AppendItem(menu, IDM_MOVE1, L"Move");
}

void FolderCommands::ContextPopup(POINT screen, bool fromKeyboard) {
    HTREEITEM node = nullptr;
    if (fromKeyboard) {
        node = tree_.Selected();
    } else {
        POINT client = screen;
        ScreenToClient(tree_.Handle(), &client);
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
        TreeView_SelectItem(tree_.Handle(), node);
        ui::EnableItem(menu_.Get(), IDM_CREATESUBFOLDER1, true);
        ui::EnableItem(menu_.Get(), IDM_RENAME1, plain);
        ui::EnableItem(menu_.Get(), IDM_DELETE1, plain);
        ui::EnableItem(menu_.Get(), IDM_MOVE1, plain);
        command =
            modal_.ShowMenu(Owner(), menu_.Get(), fromKeyboard ? tree_.MenuPoint(node) : screen);
        if (hadSelection)
            tree_.SelectId(rememberedId);
    }
    // When the remembered folder went while the menu was open, load what the
    // tree shows now.
    selection_.Changed(tree_.Selected());
    if (command)
        SendMessageW(Owner(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
}

void FolderCommands::CreateSubFolder() {
    if (!context_ || !store_ || !tree_.Find(context_->id))
        return;
    const STOREFOLDERID parentId = context_->id;
    // Held across the boxes, whatever a notification does meanwhile.
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        std::wstring name;
        if (!modal_.InputBox(Owner(), L"Create SubFolder", L"New folder name:", name))
            name.clear();
        if (name.empty())
            return;
        HTREEITEM parent = tree_.Find(parentId);
        if (!parent)
            return; // gone while the box was open
        if (!ui::FitsAnsi(name)) {
            modal_.ShowMessage(Owner(), kUnstorableName, L" Create folder error",
                               MB_OK | MB_ICONERROR);
            continue;
        }
        if (!folder_tree::HasChildNamed(tree_.Handle(), parent, name)) {
            STOREFOLDERID created = 0;
            store->CreateFolder(parentId, ui::ToAnsi(name).c_str(), 0, &created);
            return;
        }
        modal_.ShowMessage(Owner(), L" Folder with same name already exists. ",
                           L" Create folder error", MB_OK | MB_ICONERROR);
    }
}

void FolderCommands::Rename() {
    if (!context_)
        return;
    HTREEITEM node = tree_.Find(context_->id);
    if (!node || !tree_.IsPlain(node))
        return;
    SetFocus(tree_.Handle());
    TreeView_EditLabel(tree_.Handle(), node);
}

bool FolderCommands::Editing(HTREEITEM node) const {
    // However the edit starts (the menu, F2, a click on a selected label).
    return node && tree_.IsPlain(node);
}

void FolderCommands::Edited(HTREEITEM node, const wchar_t* newText) {
    if (!node || !newText || tree_.Suppressed())
        return; // the edit was cancelled, or a rebuild ended it
    pendingRename_ = PendingRename{tree_.IdOf(node), newText};
    PostMessageW(Owner(), WM_RENAMEEDITED, 0, 0);
}

void FolderCommands::RenameEdited() {
    std::optional<PendingRename> rename = std::exchange(pendingRename_, std::nullopt);
    if (!rename || !store_)
        return;
    HTREEITEM node = tree_.Find(rename->id);
    if (!node || !tree_.IsPlain(node))
        return;
    if (SiblingHasName(tree_.Handle(), node, rename->text)) {
        // The tree never took the new text, so the old one is still shown.
        modal_.ShowMessage(Owner(),
                           L"The folder with this name already exists. Please choose another one",
                           L"Error", MB_OK | MB_ICONSTOP);
        return;
    }
    // The old text back (the name as the tree shows it) is no new name: a name
    // the code page cannot show would be stored as its '?' form.
    if (rename->text == tree_.Text(node))
        return;
    if (!ui::FitsAnsi(rename->text)) {
        modal_.ShowMessage(Owner(), kUnstorableName, L" Rename folder error", MB_OK | MB_ICONERROR);
        return;
    }
    if (store_->RenameFolder(rename->id, 0, ui::ToAnsi(rename->text).c_str()) != S_OK)
        return;
    if (HTREEITEM renamed = tree_.Find(rename->id))
        tree_.SetText(renamed, rename->text);
}

void FolderCommands::Delete() {
    if (!context_ || !store_)
        return;
    const STOREFOLDERID id = context_->id;
    if (!tree_.Find(id))
        return; // gone while the menu was open
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    if (modal_.ShowMessage(Owner(), L" Do you want delete folder? ", L" Delete folder",
                           MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION) != IDYES)
        return;
    if (!tree_.Find(id))
        return; // gone while the question was open
    store->DeleteFolder(id, 0);
}

void FolderCommands::Move() {
    if (!context_ || !store_)
        return;
    const STOREFOLDERID id = context_->id;
    HTREEITEM node = tree_.Find(id);
    if (!node)
        return;
    HTREEITEM parent = TreeView_GetParent(tree_.Handle(), node);
    const STOREFOLDERID parentId = parent ? tree_.IdOf(parent) : 0;
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    STOREFOLDERID chosen = 0;
    {
        TFormFoldersList dialog;
        dialog.Images = TreeView_GetImageList(tree_.Handle(), TVSIL_NORMAL);
        dialog.FillTree = [&store, id, parentId](HWND tree) {
            bool suppress = false;
            folder_tree::Rebuild(tree, store.Get(), id, suppress);
            // Takes the moved folder and its sub-tree out of the choice; if the
            // folder went meanwhile, the rebuild selected another one.
            HTREEITEM selected = TreeView_GetSelection(tree);
            if (selected && folder_tree::NodeId(tree, selected) == id) {
                TreeView_DeleteItem(tree, selected);
                // The tree moved the selection on to a folder the user never
                // picked; the old parent (which OK refuses) or nothing instead.
                HTREEITEM oldParent = parentId ? folder_tree::FindNode(tree, parentId) : nullptr;
                TreeView_SelectItem(tree, oldParent);
            }
        };
        dialog.SubjectId = id;
        dialog.SubjectName = context_->name;
        dialog.ForbiddenId = parentId;
        modal_.ShowModal(Owner(), dialog);
        chosen = dialog.ChosenId;
    }
    MoveFolderTo(id, chosen);
}

void FolderCommands::MoveFolderTo(STOREFOLDERID id, STOREFOLDERID parentId) {
    const Microsoft::WRL::ComPtr<IStoreNamespace> store = store_;
    if (static_cast<LONG>(parentId) > 0 && store && tree_.Find(id))
        store->MoveFolder(id, parentId, 0);
}

void FolderCommands::KeyDown(WORD key) {
    HTREEITEM node = tree_.Selected();
    if (!node || !tree_.IsPlain(node))
        return;
    if (key != VK_DELETE && key != VK_F2)
        return;
    context_ = ContextFolder{tree_.IdOf(node), tree_.Text(node)};
    if (key == VK_DELETE)
        Delete();
    else
        Rename();
}
