#include "Controls.h"

#include "ui/Handles.h"

#include <strsafe.h>

#include <cwchar>

namespace controls {

HFONT MakeFont(int weight, bool underline) {
    LOGFONTW font{};
    ui::WindowDC screen(nullptr);
    font.lfHeight = -MulDiv(8, GetDeviceCaps(screen.Get(), LOGPIXELSY), 72);
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
    HWND child = CreateWindowExW(
        exStyle, className, text, WS_CHILD | WS_VISIBLE | style, place.x, place.y, place.width,
        place.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    if (child && font)
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

HWND MakeLabel(const wchar_t* text, DWORD style, int x, int y, HWND parent, int id, HFONT font) {
    SIZE size = TextSize(font, text);
    return MakeChild(L"STATIC", text, SS_LEFT | SS_NOPREFIX | style, 0, {x, y, size.cx, size.cy},
                     parent, id, font);
}

} // namespace controls
