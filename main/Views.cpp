// Setting up the tree and the list with their pictures, and answering their
// notifications.
#include "FolderTree.h"
#include "MainUnit.h"
#include "MessageList.h"
#include "MessageRows.h"
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
    TreeView_SetImageList(TreeViewFolders, ImageListFolders, TVSIL_NORMAL);
    message_list::SetUpColumns(ListViewMessages, ImageListMessages);
    message_list::KeepInSync(ListViewMessages, *rows_);
}

bool TBrisvanderMain::HandleViewNotify(const NMHDR* header, LRESULT& result) {
    if (!header)
        return false;
    if (header->hwndFrom == TreeViewFolders && TreeViewFolders) {
        if (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA) {
            TreeViewFoldersChange(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
            result = 0;
            return true;
        }
        return false;
    }
    if (header->hwndFrom == ListViewMessages && ListViewMessages)
        return message_list::HandleNotify(*rows_, header, result);
    return false;
}
