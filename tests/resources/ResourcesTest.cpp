#include "ImageLists.h"
#include "ResourceIds.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <winver.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <cwctype>
#include <vector>

namespace {

using ui::UniqueBitmap;
using ui::UniqueImageList;

HINSTANCE Module() {
    return GetModuleHandleW(nullptr);
}

struct DcDeleter {
    void operator()(HDC dc) const noexcept { DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;

struct IconDeleter {
    void operator()(HICON icon) const noexcept { DestroyIcon(icon); }
};
using UniqueIcon = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

// Pixels as 0x00RRGGBB, rows top-down.
struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> data;

    COLORREF At(int x, int y) const { return data[static_cast<size_t>(y) * width + x]; }
};

constexpr COLORREF Rgb(COLORREF colour) {
    return RGB(GetBValue(colour), GetGValue(colour), GetRValue(colour)); // swaps to 0xRRGGBB
}
constexpr COLORREF kMagenta = Rgb(kTransparentColour);

Pixels Read(HBITMAP bitmap) {
    Pixels out;
    BITMAP info{};
    if (GetObjectW(bitmap, sizeof info, &info) == 0) {
        return out;
    }
    BITMAPINFO request{};
    request.bmiHeader.biSize = sizeof request.bmiHeader;
    request.bmiHeader.biWidth = info.bmWidth;
    request.bmiHeader.biHeight = -info.bmHeight;
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<COLORREF> data(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    if (GetDIBits(dc.get(), bitmap, 0, info.bmHeight, data.data(), &request, DIB_RGB_COLORS) !=
        info.bmHeight) {
        return out;
    }
    for (auto& p : data) {
        p &= 0xffffff;
    }
    out.width = info.bmWidth;
    out.height = info.bmHeight;
    out.data = std::move(data);
    return out;
}

Pixels Crop(const Pixels& strip, int index, int size) {
    Pixels out{size, size, {}};
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            out.data.push_back(strip.At(index * size + x, y));
        }
    }
    return out;
}

UniqueBitmap LoadStrip(int id) {
    return UniqueBitmap{static_cast<HBITMAP>(
        LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))};
}

// Draws one list image transparently over a plain background and reads it back.
Pixels DrawOver(HIMAGELIST list, int index, COLORREF background, int size = kImageListSize) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = size;
    bi.bmiHeader.biHeight = -size;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    UniqueBitmap target{CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0)};
    UniqueDc dc{CreateCompatibleDC(nullptr)};
    if (!target || !dc) {
        return {};
    }
    HGDIOBJ old = SelectObject(dc.get(), target.Get());
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, size, size};
    FillRect(dc.get(), &all, brush);
    DeleteObject(brush);
    ImageList_Draw(list, index, dc.get(), 0, 0, ILD_TRANSPARENT);
    GdiFlush();
    SelectObject(dc.get(), old);
    return Read(target.Get());
}

size_t CountColours(const Pixels& p) {
    return std::set<COLORREF>(p.data.begin(), p.data.end()).size();
}

size_t CountOpaque(const Pixels& p) {
    return static_cast<size_t>(
        std::count_if(p.data.begin(), p.data.end(), [](COLORREF c) { return c != kMagenta; }));
}

struct ListCase {
    const char* name;
    HIMAGELIST (*create)(HINSTANCE);
    int bitmapId;
    int count;
};

const ListCase kLists[] = {
    {"folders", CreateFolderImageList, IDB_FOLDERS, kFolderImageCount},
    {"messages", CreateMessageImageList, IDB_MESSAGES, kMessageImageCount},
};

TEST(ImageLists, HoldTheirPicturesAt16By16) {
    EXPECT_EQ(kFolderImageCount, 6);
    EXPECT_EQ(kMessageImageCount, 5);
    for (const auto& c : kLists) {
        SCOPED_TRACE(c.name);
        UniqueImageList list{c.create(Module())};
        ASSERT_TRUE(list);
        EXPECT_EQ(ImageList_GetImageCount(list.Get()), c.count);
        int cx = 0;
        int cy = 0;
        ASSERT_TRUE(ImageList_GetIconSize(list.Get(), &cx, &cy));
        EXPECT_EQ(cx, 16);
        EXPECT_EQ(cy, 16);
        // A list built from the wrong module has no pictures to load.
        EXPECT_EQ(c.create(GetModuleHandleW(L"kernel32.dll")), nullptr);
    }
}

// Magenta pixels let either background through; every other pixel is drawn as stored.
TEST(ImageLists, MaskHidesMagentaAndNothingElse) {
    const COLORREF backgrounds[] = {RGB(12, 200, 40), RGB(90, 20, 160)};
    for (const auto& c : kLists) {
        UniqueImageList list{c.create(Module())};
        UniqueBitmap stripBitmap = LoadStrip(c.bitmapId);
        ASSERT_TRUE(list && stripBitmap);
        const Pixels strip = Read(stripBitmap.Get());
        ASSERT_EQ(strip.width, c.count * kImageListSize);
        for (int i = 0; i < c.count; ++i) {
            SCOPED_TRACE(testing::Message() << c.name << " image " << i);
            const Pixels source = Crop(strip, i, kImageListSize);
            int wrong = 0;
            for (COLORREF background : backgrounds) {
                const Pixels drawn = DrawOver(list.Get(), i, background);
                ASSERT_EQ(drawn.data.size(), source.data.size());
                for (size_t p = 0; p < source.data.size(); ++p) {
                    const COLORREF want =
                        source.data[p] == kMagenta ? Rgb(background) : source.data[p];
                    if (drawn.data[p] != want && wrong++ < 3) {
                        ADD_FAILURE() << "pixel " << p % 16 << "," << p / 16 << " is " << std::hex
                                      << drawn.data[p] << ", expected " << want;
                    }
                }
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// At a higher DPI every pixel is a block of one source pixel: no blended
// colour, and the transparent colour still lets the background through.
TEST(ImageLists, PicturesForTheDpiAreBlocksOfTheSourcePixels) {
    EXPECT_EQ(ImageSizeForDpi(96), 16);
    EXPECT_EQ(ImageSizeForDpi(120), 20);
    EXPECT_EQ(ImageSizeForDpi(144), 24);
    EXPECT_EQ(ImageSizeForDpi(168), 24);
    EXPECT_EQ(ImageSizeForDpi(192), 32);
    EXPECT_EQ(ImageSizeForDpi(288), 32);
    const COLORREF background = RGB(12, 200, 40);
    UniqueBitmap stripBitmap = LoadStrip(IDB_MESSAGES);
    ASSERT_TRUE(stripBitmap);
    const Pixels strip = Read(stripBitmap.Get());
    for (int size : {20, 24, 32}) {
        UniqueImageList list{CreateMessageImageList(Module(), size)};
        ASSERT_TRUE(list) << size;
        int cx = 0, cy = 0;
        ASSERT_TRUE(ImageList_GetIconSize(list.Get(), &cx, &cy));
        EXPECT_EQ(cx, size);
        EXPECT_EQ(cy, size);
        const Pixels source = Crop(strip, kMessageImageFlag, kImageListSize);
        const Pixels drawn = DrawOver(list.Get(), kMessageImageFlag, background, size);
        ASSERT_EQ(drawn.data.size(), static_cast<size_t>(size * size));
        int wrong = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                // The source pixel this one stands for, or a neighbour where the
                // block edges round the other way.
                bool matched = false;
                for (int dy = -1; dy <= 1 && !matched; ++dy) {
                    for (int dx = -1; dx <= 1 && !matched; ++dx) {
                        const int sx = std::clamp(x * kImageListSize / size + dx, 0, 15);
                        const int sy = std::clamp(y * kImageListSize / size + dy, 0, 15);
                        const COLORREF want =
                            source.At(sx, sy) == kMagenta ? Rgb(background) : source.At(sx, sy);
                        matched = drawn.At(x, y) == want;
                    }
                }
                wrong += matched ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0) << size;
        EXPECT_GT(std::count(drawn.data.begin(), drawn.data.end(), Rgb(background)), 0) << size;
    }
}

TEST(ImageLists, EveryPictureIsDrawnAndDiffersFromTheOthers) {
    for (const auto& c : kLists) {
        UniqueBitmap stripBitmap = LoadStrip(c.bitmapId);
        ASSERT_TRUE(stripBitmap);
        const Pixels strip = Read(stripBitmap.Get());
        ASSERT_EQ(strip.height, kImageListSize);
        std::set<std::vector<COLORREF>> seen;
        for (int i = 0; i < c.count; ++i) {
            SCOPED_TRACE(testing::Message() << c.name << " image " << i);
            const Pixels picture = Crop(strip, i, kImageListSize);
            EXPECT_GE(CountOpaque(picture), 32u);
            EXPECT_LT(CountOpaque(picture), 256u) << "no transparent pixel";
            EXPECT_TRUE(seen.insert(picture.data).second) << "same as an earlier picture";
        }
    }
    // The coloured pictures that the folder types and read states depend on.
    UniqueBitmap folders = LoadStrip(IDB_FOLDERS);
    UniqueBitmap messages = LoadStrip(IDB_MESSAGES);
    ASSERT_TRUE(folders && messages);
    for (int i = 0; i < kFolderImageCount; ++i) {
        EXPECT_GE(CountColours(Crop(Read(folders.Get()), i, 16)), 4u) << "folder image " << i;
    }
    for (int i : {kMessageImageRead, kMessageImageUnread, kMessageImageFlag}) {
        EXPECT_GE(CountColours(Crop(Read(messages.Get()), i, 16)), 4u) << "message image " << i;
    }
}

// Rough colour classes, enough to tell the pictures apart by what they show.
int R(COLORREF c) {
    return (c >> 16) & 0xff;
}
int G(COLORREF c) {
    return (c >> 8) & 0xff;
}
int B(COLORREF c) {
    return c & 0xff;
}
bool Yellow(COLORREF c) {
    return R(c) > 200 && G(c) > 150 && R(c) - B(c) > 60;
}
bool Teal(COLORREF c) {
    return R(c) < 80 && G(c) > 90 && B(c) > 90;
}
bool Green(COLORREF c) {
    return G(c) > 120 && R(c) < 120 && B(c) < 120;
}
bool Red(COLORREF c) {
    return R(c) > 180 && G(c) < 80 && B(c) < 80;
}
bool White(COLORREF c) {
    return R(c) > 240 && G(c) > 240 && B(c) > 240;
}
bool Dark(COLORREF c) {
    return c != kMagenta && R(c) < 100 && G(c) < 100 && B(c) < 100;
}

template <typename Class> int Count(const Pixels& p, Class is) {
    return static_cast<int>(std::count_if(p.data.begin(), p.data.end(), is));
}

// The tree and the list pick pictures by index: a reordered strip shows wrong folders.
TEST(ImageLists, PicturesSitAtTheirIndexes) {
    UniqueBitmap foldersBitmap = LoadStrip(IDB_FOLDERS);
    UniqueBitmap messagesBitmap = LoadStrip(IDB_MESSAGES);
    ASSERT_TRUE(foldersBitmap && messagesBitmap);
    const Pixels folders = Read(foldersBitmap.Get());
    const Pixels messages = Read(messagesBitmap.Get());
    auto folder = [&](int i) { return Crop(folders, i, kImageListSize); };
    auto message = [&](int i) { return Crop(messages, i, kImageListSize); };

    const Pixels plain = folder(kFolderImagePlain);
    EXPECT_GE(Count(plain, Yellow), 100);
    EXPECT_EQ(Count(plain, Red) + Count(plain, Teal) + Count(plain, Green), 0);
    const Pixels inbox = folder(kFolderImageInbox);
    EXPECT_GE(Count(inbox, White), 10);
    EXPECT_LT(Count(inbox, Yellow), 20);
    const Pixels outbox = folder(kFolderImageOutbox);
    EXPECT_GE(Count(outbox, Teal), 15);
    EXPECT_EQ(Count(outbox, Yellow), 0);
    const Pixels sent = folder(kFolderImageSent);
    EXPECT_GE(Count(sent, Yellow), 20);
    EXPECT_GE(Count(sent, Red), 3);
    const Pixels deleted = folder(kFolderImageDeleted);
    EXPECT_GE(Count(deleted, Green), 8);
    EXPECT_EQ(Count(deleted, Yellow), 0);
    const Pixels drafts = folder(kFolderImageDrafts);
    EXPECT_GE(Count(drafts, Yellow), 20);
    EXPECT_GE(Count(drafts, White), 20);
    EXPECT_EQ(Count(drafts, Red), 0);

    const Pixels read = message(kMessageImageRead);
    EXPECT_GE(Count(read, White), 20);
    EXPECT_EQ(Count(read, Yellow), 0);
    EXPECT_GE(Count(message(kMessageImageUnread), Yellow), 80);
    const Pixels clip = message(kMessageImageAttachment);
    EXPECT_EQ(Count(clip, Dark), static_cast<int>(CountOpaque(clip)));
    EXPECT_GE(Count(message(kMessageImageFlag), Red), 30);
    const Pixels outline = message(kMessageImageFlagOutline);
    EXPECT_EQ(Count(outline, Dark), static_cast<int>(CountOpaque(outline)));
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

struct ResourceBytes {
    const BYTE* data = nullptr;
    DWORD size = 0;
};

ResourceBytes FindBytes(LPCWSTR name, LPCWSTR type) {
    HRSRC found = FindResourceW(Module(), name, type);
    HGLOBAL loaded = found ? LoadResource(Module(), found) : nullptr;
    if (!loaded) {
        return {};
    }
    return {static_cast<const BYTE*>(LockResource(loaded)), SizeofResource(Module(), found)};
}

TEST(ProgramIcon, Offers16And32PixelImagesIn16Colours) {
    const ResourceBytes group = FindBytes(MAKEINTRESOURCEW(IDI_BRISVANDER), RT_GROUP_ICON);
    ASSERT_NE(group.data, nullptr);
    ASSERT_GE(group.size, sizeof(GroupIconHeader));
    GroupIconHeader header;
    std::memcpy(&header, group.data, sizeof header);
    EXPECT_EQ(header.type, 1);
    ASSERT_EQ(header.count, 2);
    ASSERT_EQ(group.size, sizeof header + header.count * sizeof(GroupIconEntry));
    std::set<int> sizes;
    for (int i = 0; i < header.count; ++i) {
        GroupIconEntry entry;
        std::memcpy(&entry, group.data + sizeof header + i * sizeof entry, sizeof entry);
        sizes.insert(entry.width);
        EXPECT_EQ(entry.width, entry.height);
        EXPECT_EQ(entry.colourCount, 16);
        EXPECT_EQ(entry.bitCount, 4);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 32}));

    for (int size : {16, 32}) {
        SCOPED_TRACE(testing::Message() << size << " x " << size);
        const int id = LookupIconIdFromDirectoryEx(const_cast<BYTE*>(group.data), TRUE, size, size,
                                                   LR_DEFAULTCOLOR);
        ASSERT_NE(id, 0);
        const ResourceBytes image = FindBytes(MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_GE(image.size, sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER bih;
        std::memcpy(&bih, image.data, sizeof bih);
        EXPECT_EQ(bih.biWidth, size);
        EXPECT_EQ(bih.biHeight, 2 * size); // colour plane and mask
        EXPECT_EQ(bih.biBitCount, 4);

        UniqueIcon icon{CreateIconFromResourceEx(const_cast<BYTE*>(image.data), image.size, TRUE,
                                                 0x00030000, size, size, LR_DEFAULTCOLOR)};
        ASSERT_TRUE(icon);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(icon.get(), &info));
        UniqueBitmap colour{info.hbmColor};
        UniqueBitmap mask{info.hbmMask};
        const Pixels maskPixels = Read(mask.Get());
        const Pixels colourPixels = Read(colour.Get());
        ASSERT_EQ(maskPixels.width, size);
        // Both see-through and solid pixels, and a picture with some colour in it.
        const size_t clear = static_cast<size_t>(
            std::count(maskPixels.data.begin(), maskPixels.data.begin() + size * size, 0xffffffu));
        EXPECT_GT(clear, 0u);
        EXPECT_LT(clear, static_cast<size_t>(size * size / 2));
        EXPECT_GE(CountColours(colourPixels), 6u);
    }
}

TEST(AboutPicture, Is36By36TrueColourOnMagenta) {
    UniqueBitmap picture{LoadAboutPicture(Module())};
    ASSERT_TRUE(picture);
    DIBSECTION dib{};
    ASSERT_EQ(GetObjectW(picture.Get(), sizeof dib, &dib), static_cast<int>(sizeof dib))
        << "not a DIB section";
    EXPECT_EQ(dib.dsBm.bmWidth, 36);
    EXPECT_EQ(dib.dsBm.bmHeight, 36);
    EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
    const Pixels p = Read(picture.Get());
    ASSERT_EQ(p.width, 36);
    EXPECT_EQ(p.At(0, 0), kMagenta);
    EXPECT_EQ(p.At(35, 0), kMagenta);
    EXPECT_GE(CountOpaque(p), 36u * 36u / 2);
    EXPECT_LT(CountOpaque(p), 36u * 36u);
    EXPECT_GE(CountColours(p), 8u);
}

} // namespace

namespace {

// The manifest must bring in the themed common controls, or the tree and list fall back
// to the old look.
TEST(ProgramResources, ManifestSelectsCommonControls6) {
    // Version 6 is a side-by-side assembly; without the manifest the system folder's
    // version 5 loads instead. (Its DllGetVersion does not tell them apart everywhere.)
    HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(comctl, path, MAX_PATH), 0u);
    std::wstring lower(path);
    std::transform(lower.begin(), lower.end(), lower.begin(), towlower);
    EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << "loaded from " << path;
}

// Unaware, the program's windows would be stretched as bitmaps on a high-DPI screen.
// Wine calls every process aware, so the declaration itself is read.
TEST(ProgramResources, ManifestDeclaresSystemDpiAwareness) {
    HRSRC found = FindResourceW(Module(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(Module(), found)));
    ASSERT_NE(bytes, nullptr);
    std::string manifest(bytes, SizeofResource(Module(), found));
    EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
    EXPECT_NE(manifest.find(">system</dpiAwareness>"), std::string::npos);
}

TEST(ProgramResources, VersionInfoNamesTheProductWithoutCompany) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwProductVersionMS, DWORD{0x00010000}); // 1.0
    auto text = [&](const wchar_t* name) -> std::wstring {
        wchar_t* value = nullptr;
        UINT chars = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) ||
            chars == 0) {
            return L"(none)";
        }
        return value;
    };
    EXPECT_EQ(text(L"ProductName"), L"Brisvander");
    EXPECT_EQ(text(L"ProductVersion"), L"1.0");
    EXPECT_EQ(text(L"CompanyName"), L"(none)");
}

} // namespace
