// Label tips: a text a control shows cut short appears whole in a tip over
// it while the pointer rests on it (cut with an ellipsis only where the
// screen's work area is narrower). The list view's and the tree's own
// tips are off, so every system shows the same one; the owner of the control
// says what lies under a point.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

class LabelTip {
  public:
    struct Label {
        RECT place{}; // where the text is drawn, in the control's client area
        std::wstring text;
    };
    // True, with the label, when a text cut short lies under the point.
    using Finder = std::function<bool(POINT client, Label& label)>;

    LabelTip() = default;
    ~LabelTip();
    LabelTip(const LabelTip&) = delete;
    LabelTip& operator=(const LabelTip&) = delete;

    // Watches the control's pointer from now until it is destroyed.
    void Attach(HWND control, Finder finder);
    void Hide();
    // The text shown now, empty when the tip is hidden.
    const std::wstring& Shown() const { return shown_; }
    HWND Tip() const { return tip_; }
    // What a pointer resting at `client` shows (the hover's step).
    void RestAt(POINT client);

  private:
    static LRESULT CALLBACK Proc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                 UINT_PTR id, DWORD_PTR data);
    void OnMove(POINT client);
    void Show(const Label& label);
    // `text`, or as much of it as fits `width` pixels followed by an ellipsis.
    std::wstring Fitted(const std::wstring& text, int width) const;
    void Detach();

    HWND control_ = nullptr;
    HWND tip_ = nullptr;
    Finder finder_;
    std::wstring shown_;
    RECT shownPlace_{};
};
