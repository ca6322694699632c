#include "main/commands/MessageSourceCommands.h"

#include "main/views/LocalTime.h"
#include "main/views/MessageListSync.h"
#include "store/StoreRecords.h"
#include "dialogs/UnitMessProps.h"
#include "ui/Modal.h"
#include "ui/Text.h"
#include "ui/WaitCursor.h"

#include <shlwapi.h>

#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace message_source {

namespace {

std::wstring PriorityText(DWORD priority) {
    switch (priority) {
    case MSGPRI_HIGH:
        return L"High";
    case MSGPRI_NORMAL:
        return L"Normal";
    case MSGPRI_LOW:
        return L"Low";
    default:
        return L"0"; // the label's initial text stays
    }
}

// A message's size from its stream's statistics; only a plain S_OK counts.
bool StreamSize(IStream* stream, unsigned long long& size) {
    STATSTG stat{};
    const HRESULT hr = stream->Stat(&stat, STATFLAG_DEFAULT);
    CoTaskMemFree(stat.pwcsName); // whatever the status said
    if (hr != S_OK)
        return false;
    size = stat.cbSize.QuadPart;
    return true;
}

// A uniquely named file next to the target, deleted unless it replaced it.
class TempFile {
  public:
    explicit TempFile(const std::wstring& target) {
        std::wstring folder = target;
        folder.resize(static_cast<size_t>(PathFindFileNameW(folder.c_str()) - folder.c_str()));
        if (folder.empty())
            folder = L".";
        wchar_t name[MAX_PATH] = {};
        if (GetTempFileNameW(folder.c_str(), L"bri", 0, name))
            path_ = name;
    }
    ~TempFile() {
        if (!path_.empty())
            DeleteFileW(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::wstring& Path() const { return path_; }
    bool ReplaceWithThis(const std::wstring& target) {
        if (!MoveFileExW(path_.c_str(), target.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return false;
        path_.clear();
        return true;
    }

  private:
    std::wstring path_;
};

bool FileLength(const std::wstring& path, unsigned long long& length) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    length = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// Copies the whole source into the file; true when every byte was written.
bool WriteAll(IStream* source, unsigned long long size, const std::wstring& path) {
    Microsoft::WRL::ComPtr<IStream> file;
    if (FAILED(SHCreateStreamOnFileEx(path.c_str(), STGM_WRITE | STGM_SHARE_EXCLUSIVE | STGM_CREATE,
                                      FILE_ATTRIBUTE_NORMAL, TRUE, nullptr, &file)))
        return false;
    ULARGE_INTEGER wanted{}, read{}, written{};
    wanted.QuadPart = size;
    if (source->CopyTo(file.Get(), wanted, &read, &written) != S_OK || written.QuadPart != size)
        return false;
    return SUCCEEDED(file->Commit(STGC_DEFAULT));
}

} // namespace

PropsTexts TextsOf(const MESSAGEPROPS& props) {
    PropsTexts texts;
    texts.messageId = std::to_wstring(props.dwMessageId);
    texts.to = ui::FromAnsi(store::Text(props.pszDisplayTo));
    texts.from = ui::FromAnsi(store::Text(props.pszDisplayFrom));
    texts.subject = ui::FromAnsi(store::Text(props.pszSubject));
    texts.size = std::to_wstring(props.cbMessage) + L" byte";
    texts.priority = PriorityText(props.priority);
    texts.sent = localtime_text::LocalTimeText(props.ftSent);
    texts.received = localtime_text::LocalTimeText(props.ftReceived);
    return texts;
}

Source ReadSource(IStoreFolder* folder, MESSAGEID id) {
    Microsoft::WRL::ComPtr<IStream> message;
    if (folder->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(message.GetAddressOf())) !=
            S_OK ||
        !message)
        return {};
    unsigned long long size = 0;
    if (!StreamSize(message.Get(), size))
        return {};
    Source source;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &source.stream)))
        return {};
    ULARGE_INTEGER wanted{}, read{}, written{};
    wanted.QuadPart = size;
    // Sized up front, so the copy never moves what it already wrote.
    source.stream->SetSize(wanted);
    if (message->CopyTo(source.stream.Get(), wanted, &read, &written) != S_OK)
        return {};
    source.size = written.QuadPart;
    LARGE_INTEGER start{};
    source.stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return source;
}

void ShowProperties(IStoreFolder* folder, MESSAGEID id, HWND owner, ui::ModalHost& modal) {
    if (!folder)
        return;
    // Declared first, so it is handed back after the dialog went, on every path.
    store_enum::StoreRecord record(folder);
    if (folder->GetMessageProps(id, 0, record.Get()) != S_OK)
        return;
    record.MarkFilled();
    TFormMessProps dialog;
    dialog.Values = TextsOf(record.Props());
    {
        // The copy takes a moment for a big message; the box fills while shown.
        ui::WaitCursor wait;
        Source source = ReadSource(folder, id);
        dialog.Source = source.stream;
        dialog.SourceSize = source.size;
    }
    modal.ShowModal(owner, dialog);
    if (dialog.SourceFailed())
        modal.ErrorBox(owner, L"Failed to Load Stream");
}

void SaveToFile(IStoreFolder* folder, std::optional<MESSAGEID> selected, HWND owner,
                ui::ModalHost& modal) {
    // Without a message there is nothing to ask a file name for.
    if (!folder || !selected)
        return;
    ui::SaveFileRequest request;
    request.title = L"Save message to file";
    request.filter = L"eml|*.eml";
    request.defaultExtension = L"eml";
    request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER;
    if (!modal.SaveFile(owner, request))
        return;
    Microsoft::WRL::ComPtr<IStream> message;
    if (folder->OpenMessage(*selected, IID_IStream,
                            reinterpret_cast<void**>(message.GetAddressOf())) != S_OK ||
        !message)
        return;
    std::wstring error = SaveSource(message.Get(), request.fileName);
    if (!error.empty())
        modal.ErrorBox(owner, error);
}

std::wstring SaveSource(IStream* source, const std::wstring& path) {
    TempFile temp(path);
    if (temp.Path().empty())
        return L"Cannot create file " + path;
    unsigned long long size = 0, length = 0;
    if (!StreamSize(source, size) || !WriteAll(source, size, temp.Path()) ||
        !FileLength(temp.Path(), length) || length != size)
        return L"Cannot write file " + path;
    if (!temp.ReplaceWithThis(path))
        return L"Cannot create file " + path;
    return {};
}

} // namespace message_source

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
