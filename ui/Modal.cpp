#include "Modal.h"

#include "Text.h"

#include <commdlg.h>

#include <exception>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace ui {

namespace {

constexpr wchar_t kProgramTitle[] = L"Brisvander";

// Builds a dialog template in memory, so the input box needs no resource.
class TemplateWriter {
  public:
    void Header(DWORD style, short cx, short cy, const std::wstring& title, WORD points,
                const wchar_t* face, WORD items) {
        Dword(style);
        Dword(0); // extended style
        Word(items);
        Short(0);
        Short(0);
        Short(cx);
        Short(cy);
        Word(0); // no menu
        Word(0); // standard class
        String(title);
        Word(points);
        String(face);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
              const std::wstring& text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Short(x);
        Short(y);
        Short(cx);
        Short(cy);
        Word(id);
        Word(0xFFFF);
        Word(atom);
        String(text);
        Word(0); // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

  private:
    void Word(WORD value) { words_.push_back(value); }
    void Short(short value) { words_.push_back(static_cast<WORD>(value)); }
    void Dword(DWORD value) {
        Word(LOWORD(value));
        Word(HIWORD(value));
    }
    void String(const std::wstring& text) {
        for (wchar_t c : text)
            Word(static_cast<WORD>(c));
        Word(0);
    }
    void Align() {
        if (words_.size() % 2)
            Word(0);
    }
    std::vector<WORD> words_; // vector storage is suitably aligned for DWORDs
};

constexpr WORD kAtomButton = 0x0080;
constexpr WORD kAtomEdit = 0x0081;
constexpr WORD kAtomStatic = 0x0082;
constexpr WORD kIdValue = 100;

struct InputState {
    std::wstring* value;
};

INT_PTR CALLBACK InputProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        switch (message) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            auto* state = reinterpret_cast<InputState*>(lParam);
            HWND edit = GetDlgItem(dialog, kIdValue);
            SetWindowTextW(edit, state->value->c_str());
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SetFocus(edit);
            return FALSE; // focus set here
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* state = reinterpret_cast<InputState*>(GetWindowLongPtrW(dialog, DWLP_USER));
                HWND edit = GetDlgItem(dialog, kIdValue);
                std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
                text.resize(static_cast<size_t>(
                    GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                *state->value = std::move(text);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
        }
    } catch (...) {
        DefaultModalHost().ErrorBox(dialog, DescribeCurrentException());
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

class DefaultHost final : public ModalHost {
  public:
    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption,
                    UINT type) override {
        return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
    }

    bool InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  std::wstring& value) override {
        TemplateWriter writer;
        writer.Header(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU,
                      180, 62, caption, 8, L"MS Sans Serif", 4);
        writer.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 166, 10, 0xFFFF, kAtomStatic, prompt);
        writer.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 20, 166, 13, kIdValue, kAtomEdit,
                    L"");
        writer.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 66, 41, 50, 14, IDOK, kAtomButton, L"OK");
        writer.Item(BS_PUSHBUTTON | WS_TABSTOP, 123, 41, 50, 14, IDCANCEL, kAtomButton, L"Cancel");
        std::wstring edited = value;
        InputState state{&edited};
        INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), writer.Get(), owner,
                                                 InputProc, reinterpret_cast<LPARAM>(&state));
        if (result != IDOK)
            return false;
        value = std::move(edited);
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
        MessageBoxW(owner, message.c_str(), kProgramTitle, MB_OK | MB_ICONERROR);
    }
};

} // namespace

ModalHost& DefaultModalHost() {
    static DefaultHost host;
    return host;
}

std::wstring DescribeCurrentException() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return L"Out of memory.";
    } catch (const std::exception& error) {
        std::wstring text = FromAnsi(error.what());
        return text.empty() ? L"Unexpected error." : text;
    } catch (...) {
        return L"Unexpected error.";
    }
}

} // namespace ui
