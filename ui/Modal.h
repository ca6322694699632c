// The seam for everything modal: message boxes, the input box, the save-file
// dialog, context menus, modal dialogs and the error box. Windows take a ModalHost so tests
// can answer without a user; the program uses DefaultModalHost().
#pragma once

#include "Errors.h"

#include <windows.h>
#include <commdlg.h>

#include <string>

namespace ui {

struct SaveFileRequest {
    std::wstring title;            // empty: the dialog's own caption
    std::wstring filter;           // "Name|pattern|Name|pattern", '|' between parts
    std::wstring defaultExtension; // without the dot
    std::wstring fileName;         // in: proposed name; out: the chosen path
    DWORD flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
};

// A dialog the host can show (see Dialog.h).
class ModalDialog;

class ModalHost {
  public:
    virtual ~ModalHost() = default;
    // As MessageBox: returns IDOK, IDYES, IDNO...
    virtual int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption,
                            UINT type) = 0;
    // True and `value` replaced when the user confirms; `value` is the initial text.
    virtual bool InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                          std::wstring& value) = 0;
    // True and request.fileName set to the chosen path when the user confirms.
    virtual bool SaveFile(HWND owner, SaveFileRequest& request) = 0;
    virtual INT_PTR ShowModal(HWND owner, ModalDialog& dialog) = 0;
    // Shows a context menu at a screen point until it closes; returns the
    // chosen entry's command id, 0 when none was chosen.
    virtual UINT ShowMenu(HWND owner, HMENU menu, POINT screen) = 0;
    // Tells the user about an unexpected error; the program goes on.
    virtual void ErrorBox(HWND owner, const std::wstring& message) = 0;
    // True and `folder` set to the chosen folder when the user confirms. The
    // system's folder picker unless a host answers itself.
    virtual bool ChooseFolder(HWND owner, const std::wstring& title, std::wstring& folder);

  protected:
    ModalHost() = default;
    ModalHost(const ModalHost&) = default;
    ModalHost& operator=(const ModalHost&) = default;
};

// Real boxes and dialogs.
ModalHost& DefaultModalHost();

} // namespace ui
