// Menu entries added, and enabled or greyed, by command id.
#pragma once

#include <windows.h>

namespace ui {

inline void AppendItem(HMENU menu, UINT id, const wchar_t* caption) {
    AppendMenuW(menu, MF_STRING, id, caption);
}

inline void AppendSeparator(HMENU menu) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
}

inline void EnableItem(HMENU menu, UINT id, bool enable) {
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

} // namespace ui
