// The pictures of the folder tree, the message list and the About box, loaded
// from the program's resources.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "ui/Handles.h"

// Indexes into the folder image list: the store's folder type plus one.
enum FolderImage : int {
    kFolderImagePlain = 0,
    kFolderImageInbox = 1,
    kFolderImageOutbox = 2,
    kFolderImageSent = 3,
    kFolderImageDeleted = 4,
    kFolderImageDrafts = 5,
};
inline constexpr int kFolderImageCount = 6;

// Indexes into the message image list.
enum MessageImage : int {
    kMessageImageRead = 0,
    kMessageImageUnread = 1,
    kMessageImageAttachment = 2,
    kMessageImageFlag = 3,
    kMessageImageFlagOutline = 4,
};
inline constexpr int kMessageImageCount = 5;

inline constexpr int kImageListSize = 16;

// The picture size for a screen of `dpi`: 16, 20, 24 or 32 pixels, the largest
// not above 16 design pixels scaled.
int ImageSizeForDpi(int dpi);

// Pixels of this colour are transparent in every bitmap the resources hold.
inline constexpr COLORREF kTransparentColour = RGB(255, 0, 255);

// Masked lists of `size` x `size` pictures (16 unless given), drawn from the
// 16-pixel pictures with every pixel an even block, so edges stay sharp and
// the transparent colour never blends; the caller owns the list
// (ImageList_Destroy). Return null when the bitmap is missing or has the wrong size.
HIMAGELIST CreateFolderImageList(HINSTANCE instance);
HIMAGELIST CreateMessageImageList(HINSTANCE instance);
HIMAGELIST CreateFolderImageList(HINSTANCE instance, int size);
HIMAGELIST CreateMessageImageList(HINSTANCE instance, int size);

// The 36 x 36 About picture as a DIB section, background in kTransparentColour;
// the caller owns it (DeleteObject).
HBITMAP LoadAboutPicture(HINSTANCE instance);
