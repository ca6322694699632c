// Base for a dialog made from a resource template. The caller sets the
// dialog's fields, shows it through the ModalHost seam (the system's modal
// loop) and reads its results afterwards; the dialog fills its controls from
// the fields in OnInit. Nothing a handler throws leaves the procedure.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace ui {

// A window's whole text.
std::wstring WindowText(HWND window);

// Makes a control take one key from the dialog manager, or leave it to it.
void KeepKey(HWND control, WPARAM key, bool take);

// A dialog a ModalHost can show; shown once, then released by its owner.
class ModalDialog {
  public:
    virtual ~ModalDialog() = default;
    // Shows the dialog over `owner` until it closes; returns its result (IDOK...).
    virtual INT_PTR RunModal(HWND owner) = 0;
};

class Dialog : public ModalDialog {
  public:
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window hidden and without a modal loop, as it is when shown:
    // for a modeless dialog the owner shows itself (the find box), or for a
    // test or a benchmark to look at; true when it exists. What OnInit throws
    // is thrown here.
    bool Create(HWND owner);
    HWND Hwnd() const { return hwnd_; }
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    // Shows the dialog over `owner`, which is disabled meanwhile, in the
    // system's modal loop until it ends; a window made by Create is replaced
    // by a new one. What OnInit throws is thrown here.
    INT_PTR RunModal(HWND owner) override;
    // Ends the dialog with `result`.
    void EndModal(INT_PTR result);

  protected:
    Dialog(HINSTANCE instance, int templateId);

    // WM_INITDIALOG, after the base has attached the object: fills the
    // controls from the fields. Shown, its first tab stop gets the focus then.
    virtual void OnInit() {}
    // True while shown by RunModal, false in a window made by Create.
    bool Shown() const { return modal_; }
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
    void Destroy();

    HINSTANCE instance_;
    int templateId_;
    HWND hwnd_ = nullptr;
    int dpi_ = 96;
    bool modal_ = false;
    bool ended_ = false; // EndModal ran while shown by RunModal
    // What OnInit threw, for the caller of Create or RunModal.
    std::exception_ptr initFailure_;
    std::vector<std::pair<HWND, COLORREF>> colours_;
};

} // namespace ui
