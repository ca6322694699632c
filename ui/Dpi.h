// Window places and sizes are designed at 96 pixels per inch; a process that
// declares itself DPI aware scales them by the screen's DPI itself.
#pragma once

#include <windows.h>

namespace ui {

constexpr int kDesignDpi = 96;

// The system DPI: what the screen's device context reports for a
// system-aware process.
int ScreenDpi();

// A design length (pixels at 96 DPI) at `dpi`.
inline int Scale(int designPixels, int dpi) {
    return MulDiv(designPixels, dpi, kDesignDpi);
}

// A design rectangle (left, top, width, height) at `dpi`.
inline RECT ScaleRect(int left, int top, int width, int height, int dpi) {
    const int x = Scale(left, dpi);
    const int y = Scale(top, dpi);
    return RECT{x, y, x + Scale(width, dpi), y + Scale(height, dpi)};
}

// The height to put in a LOGFONT for a font of `points` at `dpi`.
inline LONG FontHeight(int points, int dpi) {
    return -MulDiv(points, dpi, 72);
}

} // namespace ui
