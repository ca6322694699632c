#include "InputDialog.h"

#include "InputDialogIds.h"

namespace ui {

InputDialog::InputDialog() : Dialog(GetModuleHandleW(nullptr), IDD_INPUTDIALOG) {}

void InputDialog::OnInit() {
    SetWindowTextW(Hwnd(), Caption.c_str());
    SetWindowTextW(Item(IDC_INPUTDIALOG_PROMPT), Prompt.c_str());
    HWND edit = Item(IDC_INPUTDIALOG_VALUE);
    SetWindowTextW(edit, Value.c_str());
    // The whole proposal selected, so typing replaces it; the edit is the
    // first tab stop and gets the focus.
    SendMessageW(edit, EM_SETSEL, 0, -1);
}

bool InputDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        Value = WindowText(Item(IDC_INPUTDIALOG_VALUE));
        EndModal(IDOK);
        result = TRUE;
        return true;
    }
    return Dialog::OnMessage(message, wParam, lParam, result);
}

} // namespace ui
