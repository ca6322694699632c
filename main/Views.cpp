// The views' pictures, their notifications, and what a folder selection loads.
#include "MainUnit.h"
#include "ui/RedrawGuard.h"
#include "resources/ImageLists.h"

namespace {

// Pictures missing from the program's resources (a test program has none):
// empty lists of the right size and count keep every index valid.
HIMAGELIST BlankImageList(int count) {
    HIMAGELIST list =
        ImageList_Create(kImageListSize, kImageListSize, ILC_COLOR24 | ILC_MASK, count, 0);
    if (!list)
        return nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, kImageListSize * count, kImageListSize);
    ReleaseDC(nullptr, screen);
    if (memory && picture) {
        // All transparent: the pictures are empty, not black squares.
        HGDIOBJ old = SelectObject(memory, picture);
        RECT all{0, 0, kImageListSize * count, kImageListSize};
        HBRUSH transparent = CreateSolidBrush(kTransparentColour);
        FillRect(memory, &all, transparent);
        DeleteObject(transparent);
        SelectObject(memory, old);
        ImageList_AddMasked(list, picture, kTransparentColour);
    }
    if (picture)
        DeleteObject(picture);
    if (memory)
        DeleteDC(memory);
    return list;
}

} // namespace

void TBrisvanderMain::SetUpViews() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    imagesFolders_.Reset(CreateFolderImageList(instance));
    if (!imagesFolders_)
        imagesFolders_.Reset(BlankImageList(kFolderImageCount));
    imagesMessages_.Reset(CreateMessageImageList(instance));
    if (!imagesMessages_)
        imagesMessages_.Reset(BlankImageList(kMessageImageCount));
    ImageListFolders = imagesFolders_.Get();
    ImageListMessages = imagesMessages_.Get();
    tree_.SetImages(ImageListFolders);
    messages_.SetImages(ImageListMessages);
}

bool TBrisvanderMain::HandleViewNotify(const NMHDR* header, LRESULT& result) {
    if (!header)
        return false;
    if (HandleDragNotify(header))
        return true;
    if (header->hwndFrom == TreeViewFolders && TreeViewFolders)
        return HandleTreeNotify(header, result);
    if (header->hwndFrom == ListViewMessages && ListViewMessages)
        return HandleListNotify(header, result);
    return false;
}

bool TBrisvanderMain::HandleTreeNotify(const NMHDR* header, LRESULT& result) {
    result = 0;
    switch (header->code) {
    case TVN_SELCHANGEDW:
    case TVN_SELCHANGEDA:
        TreeViewFoldersChange(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
        return true;
    case TVN_BEGINLABELEDITW:
        // Non-zero refuses the edit.
        result = TreeViewFoldersEditing(reinterpret_cast<const NMTVDISPINFOW*>(header)->item.hItem)
                     ? FALSE
                     : TRUE;
        return true;
    case TVN_ENDLABELEDITW: {
        const TVITEMW& item = reinterpret_cast<const NMTVDISPINFOW*>(header)->item;
        TreeViewFoldersEdited(item.hItem, item.pszText);
        // The tree keeps its old text; a successful rename sets the new one.
        result = FALSE;
        return true;
    }
    case TVN_KEYDOWN:
        TreeViewFoldersKeyDown(reinterpret_cast<const NMTVKEYDOWN*>(header)->wVKey);
        return true;
    default:
        return false;
    }
}

bool TBrisvanderMain::HandleListNotify(const NMHDR* header, LRESULT& result) {
    if (header->code == LVN_KEYDOWN) {
        ListViewMessagesKeyDown(reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey);
        result = 0;
        return true;
    }
    if (header->code == NM_RETURN) {
        ListViewMessagesActivate(messages_.MenuRow());
        result = 0;
        return true;
    }
    if (header->code == NM_DBLCLK) {
        ListViewMessagesActivate(reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem);
        result = 0;
        return true;
    }
    return messages_.HandleNotify(header, result);
}

void TBrisvanderMain::RebuildTree(STOREFOLDERID wantedId) {
    tree_.Rebuild(namespace_.Get(), wantedId);
}

void TBrisvanderMain::ShowFolderPanel(STOREFOLDERID folderId) {
    panel_.Show(namespace_.Get(), folderId);
}

void TBrisvanderMain::TreeViewFoldersChange(HTREEITEM node) {
    if (tree_.Suppressed() || !node)
        return;
    STOREFOLDERID id = tree_.IdOf(node);
    if (id == currentFolderId_)
        return;
    currentFolderId_ = id;
    ShowFolderPanel(id);
    FillMessageList(id);
}

void TBrisvanderMain::FillMessageList(STOREFOLDERID folderId) {
    if (openFolder_) {
        openFolder_->UnregisterNotification(0, hwnd_);
        openFolder_.Reset();
    }
    RedrawGuard redraw(ListViewMessages);
    messages_.Clear();
    if (!namespace_)
        return;
    Microsoft::WRL::ComPtr<IStoreFolder> folder;
    if (namespace_->OpenFolder(folderId, 0, folder.GetAddressOf()) != S_OK || !folder)
        return;
    openFolder_ = folder;
    messages_.Append(folder.Get());
    folder->RegisterNotification(0, hwnd_);
}
