// The main window's commands that read one message, and its About link.
#include "MainUnit.h"
#include "MessageSource.h"
#include "dialogs/UnitAbout.h"
#include "ui/Modal.h"

#include <optional>

namespace {

// The first selected row's message, in list order.
std::optional<MESSAGEID> FirstSelected(const MessageListView& list) {
    std::vector<MESSAGEID> ids = list.SelectedIds();
    if (ids.empty())
        return std::nullopt;
    return ids.front();
}

} // namespace

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
