// Small helpers the views share to create their controls.
#pragma once

#include <windows.h>
#include <commctrl.h>

namespace controls {

// A design place (left, top, width, height) in the parent's client pixels at
// 96 DPI; controls are made at the screen's DPI.
struct Place {
    int x, y, width, height;
};

// 8-point "MS Sans Serif" at the screen's DPI.
HFONT MakeFont(int weight, bool underline);
SIZE TextSize(HFONT font, const wchar_t* text);
// A control at `place` scaled to the screen's DPI.
HWND MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
               const Place& place, HWND parent, int id, HFONT font);
// A control at `rect`, in the parent's client pixels as they are.
HWND MakeChildAt(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                 const RECT& rect, HWND parent, int id, HFONT font);
// A label at the design point (x, y), sized to its text, as an auto-sized label is.
HWND MakeLabel(const wchar_t* text, DWORD style, int x, int y, HWND parent, int id, HFONT font);

// An image list of `count` empty (all transparent) pictures of the program's
// picture size: stands in for pictures a program's resources lack.
HIMAGELIST BlankImageList(int count, int size);

// Shift+F10 opens the control's context menu as the menu key does, whatever
// the window system's default handling makes of it.
void MenuOnShiftF10(HWND control);

} // namespace controls
