// Menu entries enabled or greyed by command id.
#pragma once

#include <windows.h>

namespace ui {

inline void EnableItem(HMENU menu, UINT id, bool enable) {
    EnableMenuItem(menu, id, MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

} // namespace ui
