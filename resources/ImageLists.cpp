#include "ImageLists.h"

#include "ResourceIds.h"

namespace {

ui::UniqueBitmap LoadPicture(HINSTANCE instance, int id) {
    // A DIB section keeps the exact colours, so the mask colour survives on any display depth.
    return ui::UniqueBitmap{static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))};
}

HIMAGELIST CreateMaskedList(HINSTANCE instance, int bitmapId, int count) {
    ui::UniqueBitmap strip = LoadPicture(instance, bitmapId);
    if (!strip) {
        return nullptr;
    }
    BITMAP info{};
    if (GetObjectW(strip.Get(), sizeof info, &info) != static_cast<int>(sizeof info) ||
        info.bmWidth != count * kImageListSize || info.bmHeight != kImageListSize) {
        return nullptr;
    }
    ui::UniqueImageList list{
        ImageList_Create(kImageListSize, kImageListSize, ILC_COLOR24 | ILC_MASK, count, 0)};
    if (!list || ImageList_AddMasked(list.Get(), strip.Get(), kTransparentColour) < 0 ||
        ImageList_GetImageCount(list.Get()) != count) {
        return nullptr;
    }
    return list.Release();
}

} // namespace

HIMAGELIST CreateFolderImageList(HINSTANCE instance) {
    return CreateMaskedList(instance, IDB_FOLDERS, kFolderImageCount);
}

HIMAGELIST CreateMessageImageList(HINSTANCE instance) {
    return CreateMaskedList(instance, IDB_MESSAGES, kMessageImageCount);
}

HBITMAP LoadAboutPicture(HINSTANCE instance) {
    return LoadPicture(instance, IDB_ABOUT).Release();
}
