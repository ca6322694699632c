#include "ScriptedModalHost.h"

#include "ui/Dialog.h"

#include <iterator>

namespace storedouble {

void ScriptedModalHost::Record(Shown what) {
    shown.push_back(what);
    if (onShow)
        onShow(what);
}

int ScriptedModalHost::ShowMessage(HWND, const std::wstring& text, const std::wstring& caption,
                                   UINT type) {
    Record({L"message", caption, text, type});
    if (messageAnswers.empty()) {
        ++unanswered;
        return IDCANCEL;
    }
    int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

bool ScriptedModalHost::InputBox(HWND, const std::wstring& caption, const std::wstring& prompt,
                                 std::wstring& value) {
    Record({L"input", caption, prompt + L"|" + value, 0});
    if (inputAnswers.empty()) {
        ++unanswered;
        return false;
    }
    auto answer = inputAnswers.front();
    inputAnswers.pop_front();
    if (!answer)
        return false;
    value = *answer;
    return true;
}

bool ScriptedModalHost::SaveFile(HWND, ui::SaveFileRequest& request) {
    Record({L"save", request.title, request.fileName, 0});
    saveRequests.push_back(request);
    if (saveAnswers.empty()) {
        ++unanswered;
        return false;
    }
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    if (!answer)
        return false;
    request.fileName = *answer;
    return true;
}

bool ScriptedModalHost::ChooseFolder(HWND, const std::wstring& title, std::wstring& folder) {
    Record({L"folder", title, L"", 0});
    if (folderAnswers.empty()) {
        ++unanswered;
        return false;
    }
    auto answer = folderAnswers.front();
    folderAnswers.pop_front();
    if (!answer)
        return false;
    folder = *answer;
    return true;
}

INT_PTR ScriptedModalHost::ShowModal(HWND owner, ui::ModalDialog& dialog) {
    shown.push_back({L"dialog", L"", L"", 0});
    if (dialogScripts.empty()) {
        ++unanswered;
        return IDCANCEL;
    }
    auto script = std::move(dialogScripts.front());
    dialogScripts.pop_front();
    // The script sees the dialog as shown, filled from its fields, but hidden.
    if (auto* real = dynamic_cast<ui::Dialog*>(&dialog))
        real->Create(owner);
    return script(dialog);
}

UINT ScriptedModalHost::ShowMenu(HWND, HMENU menu, POINT screen) {
    std::wstring enabled;
    for (int i = 0, count = GetMenuItemCount(menu); i < count; ++i) {
        wchar_t caption[64] = {};
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STATE | MIIM_STRING | MIIM_FTYPE;
        item.dwTypeData = caption;
        item.cch = static_cast<UINT>(std::size(caption));
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &item) ||
            (item.fType & MFT_SEPARATOR) || (item.fState & MFS_DISABLED))
            continue;
        enabled += (enabled.empty() ? L"" : L"|") + std::wstring(caption);
    }
    Record({L"menu", std::to_wstring(screen.x) + L"," + std::to_wstring(screen.y), enabled, 0});
    if (menuScripts.empty())
        return 0;
    auto script = std::move(menuScripts.front());
    menuScripts.pop_front();
    return script();
}

void ScriptedModalHost::ErrorBox(HWND, const std::wstring& message) {
    shown.push_back({L"error", L"", message, 0});
    errors.push_back(message);
}

} // namespace storedouble
