// The input box: asks for one line of text. The caller sets the caption, the
// prompt and the proposed value, shows it, and after OK reads Value.
#pragma once

#include "Dialog.h"

#include <string>

namespace ui {

class InputDialog final : public Dialog {
  public:
    // The template comes with the program's resources (InputDialog.rc).
    InputDialog();

    std::wstring Caption;
    std::wstring Prompt;
    std::wstring Value; // in: proposed; out: what the user confirmed with OK

  private:
    void OnInit() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
};

} // namespace ui
