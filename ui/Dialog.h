// Base for a dialog made from a resource template: the window is created
// hidden first, so its owner can fill the controls, and is then shown modally
// through the ModalHost seam. Nothing a handler throws leaves the procedure.
#pragma once

#include "Handles.h"
#include "Modal.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace ui {

// A window's whole text.
std::wstring WindowText(HWND window);

// Shows `dialog` over `owner`, which is disabled meanwhile, gives `firstFocus`
// the focus and dispatches messages until `running` turns false or the dialog
// goes; then hides it and gives the focus back to where it was.
void RunModalLoop(HWND dialog, HWND owner, HWND firstFocus, const bool& running);

// Makes a control take one key from the dialog manager, or leave it to it.
void KeepKey(HWND control, WPARAM key, bool take);

class Dialog : public ModalDialog {
  public:
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the hidden window owned by `owner`; true when it exists.
    bool Create(HWND owner);
    HWND Hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    // Shows the window (creating it first if needed) and runs a modal loop
    // until the dialog ends; the owner is disabled meanwhile.
    INT_PTR RunModal(HWND owner) override;
    // Ends the modal loop with `result`.
    void EndModal(INT_PTR result);

  protected:
    Dialog(HINSTANCE instance, int templateId);

    // WM_INITDIALOG, after the base has attached the object.
    virtual void OnInit() {}
    // Any message; true when handled, with `result` as the procedure's answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    // Client area of `width` x `height` design pixels, centred on the screen.
    void SizeAndCentre(int width, int height);
    // Places a control at a design rectangle.
    void Place(int id, int left, int top, int width, int height);
    // Places a control at a rectangle in client pixels.
    void PlacePixels(int id, const RECT& place);
    // Width in pixels of a control's text in its own font.
    int TextWidth(int id) const;
    int Dpi() const { return dpi_; }
    // The dialog's font with another weight, underline or size (0: the same).
    UniqueFont DerivedFont(int weight, bool underline, int points = 0) const;
    // Static controls that draw their text in a colour of their own.
    void SetTextColour(int id, COLORREF colour);

  private:
    static INT_PTR CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    int templateId_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    bool running_ = false;
    INT_PTR result_ = IDCANCEL;
    std::vector<std::pair<HWND, COLORREF>> colours_;
};

} // namespace ui
