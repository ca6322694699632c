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
        // Over the owner's bottom right corner (the log, clear of the rows),
        // inside the screen's work area.
        RECT client{}, box{}, work{};
        GetClientRect(owner, &client);
        MapWindowPoints(owner, nullptr, reinterpret_cast<POINT*>(&client), 2);
        GetWindowRect(Hwnd(), &box);
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int width = box.right - box.left;
        const int height = box.bottom - box.top;
        const int x = std::clamp<int>(client.right - width, work.left,
                                      std::max<int>(work.left, work.right - width));
        const int y = std::clamp<int>(client.bottom - height, work.top,
                                      std::max<int>(work.top, work.bottom - height));
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
        RunSearch(!(GetKeyState(VK_SHIFT) & 0x8000));
        return true;
    }
    return IsDialogMessageW(Hwnd(), &message) != FALSE;
}

void FindBox::ShowFound(bool found) {
    if (Hwnd())
        SetWindowTextW(Item(IDC_FINDSTATUS), found ? L"" : L"Not found");
}

void FindBox::RunSearch(bool forward) {
    ShowFound(search_(Text(), forward));
}

bool FindBox::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    if (message != WM_COMMAND)
        return false;
    switch (LOWORD(wParam)) {
    case IDOK:
        RunSearch(true);
        break;
    case IDC_FINDPREVIOUS:
        RunSearch(false);
        break;
    case IDC_FINDTEXT:
        if (HIWORD(wParam) != EN_CHANGE)
            return false;
        ShowFound(true); // a new text has not been looked for yet
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
