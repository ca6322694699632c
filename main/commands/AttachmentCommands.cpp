#include "main/commands/AttachmentCommands.h"

#include "main/commands/MessageSourceCommands.h"
#include "ui/Modal.h"
#include "ui/Text.h"
#include "ui/WaitCursor.h"

#include "Mime.h"
#include "ExportFormat.h"

#include <wrl/client.h>

#include <set>

namespace attachment_files {

namespace {

constexpr size_t kMaxNameBytes = 150;

std::wstring Lower(std::wstring s) {
    CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
    return s;
}

} // namespace

File CollectOne(const ReadingPane& pane, size_t index) {
    const mailformat::Attachment& a = pane.Attachments()[index];
    const mailformat::MimePart& part = pane.Tree().parts[static_cast<size_t>(a.part)];
    std::string_view body =
        std::string_view(pane.Source()).substr(part.bodyStart, part.bodyEnd - part.bodyStart);
    File file;
    file.bytes = mailformat::DecodeTransfer(body, part.encoding);
    std::string fallback = "attachment";
    if (part.Is("message", "rfc822"))
        fallback += ".eml";
    // Only the last path part: a name from a message never names a place.
    std::string_view name = a.name;
    const size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos)
        name.remove_prefix(separator + 1);
    file.name = ui::FromUtf8(mailstore::SafeName(name, kMaxNameBytes, fallback));
    return file;
}

std::vector<File> Collect(const ReadingPane& pane) {
    std::vector<File> files;
    std::set<std::wstring> taken; // file systems here ignore case
    for (size_t i = 0; i < pane.Attachments().size(); ++i) {
        File file = CollectOne(pane, i);
        const size_t dot = file.name.rfind(L'.');
        const std::wstring stem =
            dot == std::wstring::npos || dot == 0 ? file.name : file.name.substr(0, dot);
        const std::wstring ext =
            stem.size() == file.name.size() ? L"" : file.name.substr(stem.size());
        for (int n = 2; taken.count(Lower(file.name)); ++n)
            file.name = stem + L" (" + std::to_wstring(n) + L")" + ext;
        taken.insert(Lower(file.name));
        files.push_back(std::move(file));
    }
    return files;
}

std::wstring Write(const std::wstring& path, const std::string& bytes) {
    Microsoft::WRL::ComPtr<IStream> memory;
    ULONG written = 0;
    LARGE_INTEGER start{};
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &memory)) ||
        FAILED(memory->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written)) ||
        written != bytes.size() || FAILED(memory->Seek(start, STREAM_SEEK_SET, nullptr)))
        return L"Cannot write file " + path;
    return message_source::SaveSource(memory.Get(), path);
}

} // namespace attachment_files

// The decoded bytes are taken before any dialog: while it is open a store
// notification may move the pane on to another message.
void AttachmentCommands::SaveOne(size_t index) {
    pane_.Finish();
    if (index >= pane_.Attachments().size())
        return;
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = pane_.Folder();
    attachment_files::File file;
    {
        ui::WaitCursor wait;
        file = attachment_files::CollectOne(pane_, index);
    }
    ui::SaveFileRequest request;
    request.title = L"Save attachment";
    request.filter = L"All files|*.*";
    request.fileName = file.name;
    request.flags =
        OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_NOCHANGEDIR;
    if (!modal_.SaveFile(Owner(), request))
        return;
    std::wstring error = attachment_files::Write(request.fileName, file.bytes);
    if (!error.empty())
        modal_.ErrorBox(Owner(), error);
}

void AttachmentCommands::SaveAll() {
    pane_.Finish();
    if (pane_.Attachments().empty())
        return;
    const Microsoft::WRL::ComPtr<IStoreFolder> folder = pane_.Folder();
    std::vector<attachment_files::File> files;
    {
        ui::WaitCursor wait;
        files = attachment_files::Collect(pane_);
    }
    std::wstring target;
    if (!modal_.ChooseFolder(Owner(), L"Save all attachments", target) || target.empty())
        return;
    if (target.back() != L'\\' && target.back() != L'/')
        target += L'\\';
    std::wstring errors;
    for (const attachment_files::File& file : files) {
        const std::wstring path = target + file.name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const int answer =
                modal_.ShowMessage(Owner(), path + L" already exists.\nReplace it?",
                                   L"Save all attachments", MB_YESNOCANCEL | MB_ICONQUESTION);
            if (answer == IDCANCEL)
                break;
            if (answer != IDYES)
                continue;
        }
        std::wstring error = attachment_files::Write(path, file.bytes);
        if (!error.empty())
            errors += error + L"\n";
    }
    if (!errors.empty())
        modal_.ErrorBox(Owner(), errors);
}
