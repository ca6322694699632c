// Handing data to other programs the system's way: its drag loop, which ends
// on a drop, Escape, a right-click or a lost mouse, and the clipboard.
#pragma once

#include <windows.h>
#include <objidl.h>

namespace drag_out {

// Runs the system's drag loop with `data` (offered for copying) until the
// button is released or the drag is given up; true when a target took it.
bool Run(IDataObject* data);

// Puts `data` on the clipboard; false when it cannot.
bool ToClipboard(IDataObject* data);
// Empties the clipboard if it still holds `data`: its files are read from a
// store this process will not have open much longer.
void TakeBack(IDataObject* data);

} // namespace drag_out
