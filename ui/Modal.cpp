#include "Modal.h"

#include "Dialog.h"
#include "InputDialog.h"

#include <commdlg.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <utility>
#include <vector>

namespace ui {

namespace {

class DefaultHost final : public ModalHost {
  public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption,
                    UINT type) override {
        return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
    }

    bool InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  std::wstring& value) override {
        InputDialog dialog;
        dialog.Caption = caption;
        dialog.Prompt = prompt;
        dialog.Value = value;
        if (ShowModal(owner, dialog) != IDOK)
            return false;
        value = std::move(dialog.Value);
        return true;
    }

    bool SaveFile(HWND owner, SaveFileRequest& request) override {
        std::wstring filter = request.filter;
        for (wchar_t& c : filter)
            if (c == L'|')
                c = L'\0';
        filter.push_back(L'\0');
        std::vector<wchar_t> path(32768, L'\0');
        request.fileName.copy(path.data(), path.size() - 1);
        OPENFILENAMEW ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner;
        ofn.lpstrFilter = filter.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = path.data();
        ofn.nMaxFile = static_cast<DWORD>(path.size());
        ofn.lpstrTitle = request.title.empty() ? nullptr : request.title.c_str();
        ofn.lpstrDefExt =
            request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
        ofn.Flags = request.flags;
        if (!GetSaveFileNameW(&ofn))
            return false;
        request.fileName = path.data();
        return true;
    }

    INT_PTR ShowModal(HWND owner, ModalDialog& dialog) override { return dialog.RunModal(owner); }

    UINT ShowMenu(HWND owner, HMENU menu, POINT screen) override {
        // The owner must be in front, or the menu does not close when the user
        // clicks elsewhere.
        SetForegroundWindow(owner);
        UINT command = static_cast<UINT>(
            TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY,
                           screen.x, screen.y, 0, owner, nullptr));
        PostMessageW(owner, WM_NULL, 0, 0);
        return command;
    }

    void ErrorBox(HWND owner, const std::wstring& message) override {
        ShowErrorBox(owner, message);
    }
};

} // namespace

bool ModalHost::ChooseFolder(HWND owner, const std::wstring& title, std::wstring& folder) {
    Microsoft::WRL::ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dialog))))
        return false;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_NOCHANGEDIR);
    if (!title.empty())
        dialog->SetTitle(title.c_str());
    if (FAILED(dialog->Show(owner)))
        return false; // cancelled
    Microsoft::WRL::ComPtr<IShellItem> item;
    PWSTR path = nullptr;
    if (FAILED(dialog->GetResult(&item)) || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &path)))
        return false;
    folder = path;
    CoTaskMemFree(path);
    return true;
}

ModalHost& DefaultModalHost() {
    static DefaultHost host;
    return host;
}

} // namespace ui
