#include "Dpi.h"

namespace ui {

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    if (!screen)
        return kDesignDpi;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : kDesignDpi;
}

} // namespace ui
