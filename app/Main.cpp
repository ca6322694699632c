// The program: one main window and its message loop.
#include "main/MainUnit.h"
#include "ui/Modal.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

namespace {

class ComApartment {
  public:
    // OLE's too: dragging mail out and the clipboard need it.
    ComApartment() : status_(OleInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(status_))
            OleUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    HRESULT status_;
};

int Run(HINSTANCE instance, int showCommand) {
    TBrisvanderMain mainWindow;
    mainWindow.QuitOnDestroy(true);
    if (!mainWindow.Create(instance, showCommand))
        return 1;
    MSG message{};
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        // Escape ends a drag before the dialog keys make it a cancel command.
        if (mainWindow.PreTranslateDrag(message))
            continue;
        // The find box's keys, while it is open.
        if (mainWindow.PreTranslate(message))
            continue;
        // Gives Tab and Shift+Tab their focus order between the controls.
        HWND window = mainWindow.Handle();
        if (window && IsDialogMessageW(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return got < 0 ? 1 : static_cast<int>(message.wParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    ComApartment com;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES |
                                                       ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    try {
        return Run(instance, showCommand);
    } catch (...) {
        ui::DefaultModalHost().ErrorBox(nullptr, ui::DescribeCurrentException());
        return 1;
    }
}
