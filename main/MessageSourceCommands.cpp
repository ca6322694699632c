// The main window's commands that read one message, and its About link.
#include "MainUnit.h"
#include "MessageSource.h"
#include "dialogs/UnitAbout.h"
#include "ui/Modal.h"

#include <commctrl.h>

#include <optional>

namespace {

// The first selected row's message, in list order.
std::optional<MESSAGEID> FirstSelected(const MessageListView& list) {
    std::vector<MESSAGEID> ids = list.SelectedIds();
    if (ids.empty())
        return std::nullopt;
    return ids.front();
}

// The dialog manager would take Enter for a default button the window does
// not have; the list keeps it and tells its parent (NM_RETURN).
LRESULT CALLBACK WantEnterProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR) {
    if (message == WM_GETDLGCODE) {
        LRESULT code = DefSubclassProc(list, message, wParam, lParam);
        auto* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(list, WantEnterProc, id);
    return DefSubclassProc(list, message, wParam, lParam);
}

} // namespace

void TBrisvanderMain::ListViewMessagesWantEnter() {
    SetWindowSubclass(ListViewMessages, WantEnterProc, 2, 0);
}

void TBrisvanderMain::ListViewMessagesActivate(int row) {
    if (row >= 0 && static_cast<size_t>(row) < Rows().Count() && openFolder_)
        message_source::ShowProperties(openFolder_.Get(), Rows().At(static_cast<size_t>(row)).id,
                                       hwnd_, Modal());
}

void TBrisvanderMain::Properties1Click() {
    if (auto id = FirstSelected(messages_))
        message_source::ShowProperties(openFolder_.Get(), *id, hwnd_, Modal());
}

void TBrisvanderMain::Savetofile1Click() {
    message_source::SaveToFile(openFolder_.Get(), FirstSelected(messages_), hwnd_, Modal());
}

void TBrisvanderMain::LabelAboutClick() {
    TFormAbout dialog;
    Modal().ShowModal(hwnd_, dialog);
}
