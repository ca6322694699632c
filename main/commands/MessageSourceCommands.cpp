// The commands that read one message, and the About link.
#include "main/commands/MessageSourceCommands.h"

#include "main/commands/MessageSource.h"
#include "dialogs/UnitAbout.h"
#include "ui/Modal.h"

#include <optional>
#include <wrl/client.h>

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
void MessageSourceCommands::Activate(int row) {
    // As the menu: only for exactly one selected row.
    MessageRows& rows = messages_.Rows();
    if (messages_.SelectedCount() != 1 || row < 0 || static_cast<size_t>(row) >= rows.Count())
        return;
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = selection_.OpenedFolder();
    if (folder)
        message_source::ShowProperties(folder.Get(), rows.Id(static_cast<size_t>(row)), Owner(),
                                       modal_);
}

void MessageSourceCommands::Properties() {
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = selection_.OpenedFolder();
    if (auto id = FirstSelected(messages_))
        message_source::ShowProperties(folder.Get(), *id, Owner(), modal_);
}

void MessageSourceCommands::SaveToFile() {
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = selection_.OpenedFolder();
    message_source::SaveToFile(folder.Get(), FirstSelected(messages_), Owner(), modal_);
}

void MessageSourceCommands::About() {
    TFormAbout dialog;
    modal_.ShowModal(Owner(), dialog);
}
