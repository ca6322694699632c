// Small helpers the views share to create their controls.
#pragma once

#include <windows.h>

namespace controls {

// A design place (left, top, width, height) in the parent's client pixels.
struct Place {
    int x, y, width, height;
};

// 8-point "MS Sans Serif" at the screen's DPI.
HFONT MakeFont(int weight, bool underline);
SIZE TextSize(HFONT font, const wchar_t* text);
HWND MakeChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
               const Place& place, HWND parent, int id, HFONT font);
// A label sized to its text, as an auto-sized label is.
HWND MakeLabel(const wchar_t* text, DWORD style, int x, int y, HWND parent, int id, HFONT font);

} // namespace controls
