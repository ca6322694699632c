#include "main/views/Controls.h"

#include "ui/Dpi.h"
#include "ui/Handles.h"
#include "resources/ImageLists.h"

#include <commctrl.h>
#include <strsafe.h>

#include <cwchar>

namespace controls {

HFONT MakeFont(int weight, bool underline) {
    LOGFONTW font{};
    font.lfHeight = ui::FontHeight(8, ui::ScreenDpi());
    font.lfWeight = weight;
    font.lfUnderline = underline ? TRUE : FALSE;
    font.lfCharSet = DEFAULT_CHARSET;
    StringCchCopyW(font.lfFaceName, LF_FACESIZE, L"MS Sans Serif");
    return CreateFontIndirectW(&font);
}

SIZE TextSize(HFONT font, const wchar_t* text) {
    ui::WindowDC screen(nullptr);
    ui::SelectGuard select(screen.Get(), font);
    SIZE size{};
    GetTextExtentPoint32W(screen.Get(), text, static_cast<int>(wcslen(text)), &size);
    return size;
}

HWND MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
               const Place& place, HWND parent, int id, HFONT font) {
    RECT rect = ui::ScaleRect(place.x, place.y, place.width, place.height, ui::ScreenDpi());
    return MakeChildAt(className, text, style, exStyle, rect, parent, id, font);
}

HWND MakeChildAt(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                 const RECT& rect, HWND parent, int id, HFONT font) {
    HWND child = CreateWindowExW(
        exStyle, className, text, WS_CHILD | WS_VISIBLE | style, rect.left, rect.top,
        rect.right - rect.left, rect.bottom - rect.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (child && font)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

HWND MakeLabel(const wchar_t* text, DWORD style, int x, int y, HWND parent, int id, HFONT font) {
    SIZE size = TextSize(font, text);
    const int dpi = ui::ScreenDpi();
    const int left = ui::Scale(x, dpi);
    const int top = ui::Scale(y, dpi);
    return MakeChildAt(L"STATIC", text, SS_LEFT | SS_NOPREFIX | style, 0,
                       {left, top, left + size.cx, top + size.cy}, parent, id, font);
}

namespace {

LRESULT CALLBACK ShiftF10Proc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                              DWORD_PTR) {
    if ((message == WM_SYSKEYDOWN || message == WM_KEYDOWN) && wParam == VK_F10 &&
        (GetKeyState(VK_SHIFT) & 0x8000)) {
        SendMessageW(control, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), -1);
        return 0;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(control, ShiftF10Proc, id);
    return DefSubclassProc(control, message, wParam, lParam);
}

} // namespace

void MenuOnShiftF10(HWND control) {
    SetWindowSubclass(control, ShiftF10Proc, 1, 0);
}

HIMAGELIST BlankImageList(int count, int size) {
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, count, 0);
    if (!list)
        return nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, size * count, size);
    ReleaseDC(nullptr, screen);
    if (memory && picture) {
        // All transparent: the pictures are empty, not black squares.
        HGDIOBJ old = SelectObject(memory, picture);
        RECT all{0, 0, size * count, size};
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

} // namespace controls
