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

// Each command holds its own reference to the open folder: a notification
// inside its modal window may replace the list's folder and release it.
void TBrisvanderMain::ListViewMessagesActivate(int row) {
    // As the menu: only for exactly one selected row.
    if (messages_.SelectedCount() != 1 || row < 0 || static_cast<size_t>(row) >= Rows().Count())
        return;
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = openFolder_;
    if (folder)
        message_source::ShowProperties(folder.Get(), Rows().At(static_cast<size_t>(row)).id, hwnd_,
                                       Modal());
}

void TBrisvanderMain::Properties1Click() {
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = openFolder_;
    if (auto id = FirstSelected(messages_))
        message_source::ShowProperties(folder.Get(), *id, hwnd_, Modal());
}

void TBrisvanderMain::Savetofile1Click() {
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = openFolder_;
    message_source::SaveToFile(folder.Get(), FirstSelected(messages_), hwnd_, Modal());
}

void TBrisvanderMain::LabelAboutClick() {
    TFormAbout dialog;
    Modal().ShowModal(hwnd_, dialog);
}
