// A ModalHost that answers from a script instead of a user and remembers what
// it was asked, so tests can drive commands that ask questions.
#pragma once

#include "ui/Modal.h"

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace storedouble {

class ScriptedModalHost final : public ui::ModalHost {
  public:
    struct Shown {
        std::wstring kind; // "message", "input", "save", "dialog", "menu", "error",
                           // "folder"
        std::wstring caption;
        std::wstring text;
        UINT type = 0;
    };

    // Answers, each used once, in order. A question without an answer counts as
    // unanswered and gets IDCANCEL / a cancel.
    std::deque<int> messageAnswers;
    std::deque<std::optional<std::wstring>> inputAnswers;  // nullopt: cancelled
    std::deque<std::optional<std::wstring>> saveAnswers;   // nullopt: cancelled
    std::deque<std::optional<std::wstring>> folderAnswers; // nullopt: cancelled
    // Runs in place of showing the dialog; gets the dialog to inspect, its
    // window made hidden by ui::Dialog::Create.
    std::deque<std::function<INT_PTR(ui::ModalDialog&)>> dialogScripts;
    // Runs while the menu is open; returns the chosen command (0: none).
    std::deque<std::function<UINT()>> menuScripts;

    // Runs as each thing is shown, before it is answered: a notification
    // delivered inside its modal loop.
    std::function<void(const Shown&)> onShow;

    std::vector<Shown> shown;
    std::vector<std::wstring> errors;
    std::vector<ui::SaveFileRequest> saveRequests;
    int unanswered = 0;

    int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption,
                    UINT type) override;
    bool InputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  std::wstring& value) override;
    bool SaveFile(HWND owner, ui::SaveFileRequest& request) override;
    INT_PTR ShowModal(HWND owner, ui::ModalDialog& dialog) override;
    // Recorded with the enabled entries' captions, '|' between them, as text
    // and the screen point as caption "x,y".
    UINT ShowMenu(HWND owner, HMENU menu, POINT screen) override;
    void ErrorBox(HWND owner, const std::wstring& message) override;
    // Recorded as "folder" with the title as caption.
    bool ChooseFolder(HWND owner, const std::wstring& title, std::wstring& folder) override;

  private:
    void Record(Shown what);
};

} // namespace storedouble
