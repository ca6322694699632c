#include "main/views/FindBox.h"

#include "main/views/FindBoxIds.h"

#include <algorithm>

FindBox::FindBox(Search search)
    : ui::Dialog(GetModuleHandleW(nullptr), IDD_FINDBOX), search_(std::move(search)) {}

bool FindBox::Open(HWND owner) {
    const bool placed = Hwnd() != nullptr;
    if (!Create(owner))
        return false;
    if (!placed) {
        // Below the owner's right edge, clear of the list, when the screen has
        // room there; else over the owner's top right.
        RECT frame{}, box{}, work{};
        GetWindowRect(owner, &frame);
        GetWindowRect(Hwnd(), &box);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int height = box.bottom - box.top;
        const int x = std::max<int>(work.left, frame.right - (box.right - box.left));
        const int y = frame.bottom + height <= work.bottom ? frame.bottom : frame.top;
        SetWindowPos(Hwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ShowWindow(Hwnd(), SW_SHOW);
    SetActiveWindow(Hwnd());
    SetFocus(Item(IDC_FINDTEXT));
    SendMessageW(Item(IDC_FINDTEXT), EM_SETSEL, 0, -1);
    return true;
}

bool FindBox::Visible() const {
    return Hwnd() && IsWindowVisible(Hwnd());
}

std::wstring FindBox::Text() const {
    return Hwnd() ? ui::WindowText(Item(IDC_FINDTEXT)) : std::wstring();
}

bool FindBox::PreTranslate(MSG& message) {
    if (!Hwnd() || (message.hwnd != Hwnd() && !IsChild(Hwnd(), message.hwnd)))
        return false;
    if (message.message == WM_KEYDOWN && message.wParam == VK_F3) {
        search_(Text(), !(GetKeyState(VK_SHIFT) & 0x8000));
        return true;
    }
    return IsDialogMessageW(Hwnd(), &message) != FALSE;
}

bool FindBox::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    if (message != WM_COMMAND)
        return false;
    switch (LOWORD(wParam)) {
    case IDOK:
        search_(Text(), true);
        break;
    case IDCANCEL: {
        // Hidden, not destroyed: the text is there when the box opens again.
        HWND owner = GetWindow(Hwnd(), GW_OWNER);
        ShowWindow(Hwnd(), SW_HIDE);
        if (owner)
            SetActiveWindow(owner);
        break;
    }
    default:
        return false;
    }
    result = TRUE;
    return true;
}
