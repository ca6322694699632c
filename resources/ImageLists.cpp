#include "ImageLists.h"

#include "ResourceIds.h"

#include <utility>

namespace {

ui::UniqueBitmap LoadPicture(HINSTANCE instance, int id) {
    // A DIB section keeps the exact colours, so the mask colour survives on any display depth.
    return ui::UniqueBitmap{static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))};
}

// The strip with each picture scaled to `size`, pixel by pixel (no blending).
ui::UniqueBitmap ScaledStrip(HBITMAP strip, int count, int size) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = count * size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    ui::UniqueBitmap scaled{CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0)};
    HDC from = CreateCompatibleDC(nullptr);
    HDC to = CreateCompatibleDC(nullptr);
    bool drawn = false;
    if (scaled && from && to) {
        HGDIOBJ oldFrom = SelectObject(from, strip);
        HGDIOBJ oldTo = SelectObject(to, scaled.Get());
        SetStretchBltMode(to, COLORONCOLOR);
        drawn = true;
        // One picture at a time, so no picture takes a column of its neighbour.
        for (int i = 0; i < count && drawn; ++i)
            drawn = StretchBlt(to, i * size, 0, size, size, from, i * kImageListSize, 0,
                               kImageListSize, kImageListSize, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(from, oldFrom);
        SelectObject(to, oldTo);
    }
    if (from)
        DeleteDC(from);
    if (to)
        DeleteDC(to);
    return drawn ? std::move(scaled) : ui::UniqueBitmap{};
}

HIMAGELIST CreateMaskedList(HINSTANCE instance, int bitmapId, int count, int size) {
    ui::UniqueBitmap strip = LoadPicture(instance, bitmapId);
    if (!strip) {
        return nullptr;
    }
    BITMAP info{};
    if (GetObjectW(strip.Get(), sizeof info, &info) != static_cast<int>(sizeof info) ||
        info.bmWidth != count * kImageListSize || info.bmHeight != kImageListSize) {
        return nullptr;
    }
    if (size != kImageListSize) {
        strip = ScaledStrip(strip.Get(), count, size);
        if (!strip) {
            return nullptr;
        }
    }
    ui::UniqueImageList list{ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, count, 0)};
    if (!list || ImageList_AddMasked(list.Get(), strip.Get(), kTransparentColour) < 0 ||
        ImageList_GetImageCount(list.Get()) != count) {
        return nullptr;
    }
    return list.Release();
}

} // namespace

int ImageSizeForDpi(int dpi) {
    const int scaled = MulDiv(kImageListSize, dpi > 0 ? dpi : 96, 96);
    int size = kImageListSize;
    for (int step : {20, 24, 32}) {
        if (step <= scaled) {
            size = step;
        }
    }
    return size;
}

HIMAGELIST CreateFolderImageList(HINSTANCE instance) {
    return CreateFolderImageList(instance, kImageListSize);
}

HIMAGELIST CreateMessageImageList(HINSTANCE instance) {
    return CreateMessageImageList(instance, kImageListSize);
}

HIMAGELIST CreateFolderImageList(HINSTANCE instance, int size) {
    return CreateMaskedList(instance, IDB_FOLDERS, kFolderImageCount, size);
}

HIMAGELIST CreateMessageImageList(HINSTANCE instance, int size) {
    return CreateMaskedList(instance, IDB_MESSAGES, kMessageImageCount, size);
}

HBITMAP LoadAboutPicture(HINSTANCE instance) {
    return LoadPicture(instance, IDB_ABOUT).Release();
}
