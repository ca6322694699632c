// A small modeless box that finds rows in the message list: a text field,
// "Previous", "Next", "Close", and a line that says when nothing was found.
// It stays open over the main window until closed.
#pragma once

#include "ui/Dialog.h"

#include <windows.h>

#include <functional>
#include <string>

class FindBox final : public ui::Dialog {
  public:
    // Runs a search for the text, forwards or backwards; false when nothing matched.
    using Search = std::function<bool(const std::wstring& text, bool forward)>;

    explicit FindBox(Search search);

    // Shows the box over `owner` (creating it first) with its text selected.
    bool Open(HWND owner);
    bool Visible() const;
    std::wstring Text() const;
    // For the message loop: the box's keys (F3, Shift+F3, Tab, Enter, Escape).
    // True when the message was the box's and is handled.
    bool PreTranslate(MSG& message);
    // Says in the box whether the last search found a row.
    void ShowFound(bool found);

  protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

  private:
    void RunSearch(bool forward);

    Search search_;
};
