// The About link: the About box over the window.
#pragma once

#include "dialogs/UnitAbout.h"
#include "ui/Modal.h"

#include <windows.h>

inline void ShowAbout(HWND owner, ui::ModalHost& modal) {
    TFormAbout dialog;
    modal.ShowModal(owner, dialog);
}
