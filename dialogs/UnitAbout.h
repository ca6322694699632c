// The About box: name, version, author, a few words on the program and a
// link to the project's web page.
#pragma once

#include "UnitAboutIds.h"
#include "ui/Dialog.h"
#include "ui/Handles.h"

#include <windows.h>

#include <functional>
#include <string>

class TFormAbout final : public ui::Dialog {
  public:
    static constexpr wchar_t kCaption[] = L" About Brisvander";
    static constexpr int kClientWidth = 306;
    static constexpr int kClientHeight = 219;

    // What following the link does with the link's caption; the shell's
    // default action unless a test looks on.
    using OpenLink = std::function<void(const std::wstring& target)>;
    static void ShellOpen(const std::wstring& target);

    explicit TFormAbout(OpenLink open = ShellOpen);

    HWND LabelName() const { return Item(IDC_LABELNAME); }
    HWND LabelVers() const { return Item(IDC_LABELVERS); }
    HWND LabelURL() const { return Item(IDC_LABELURL); }
    HWND ButtonOK() const { return Item(IDOK); }

  private:
    void OnInit() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void PlaceControls();
    void DrawPicture(const DRAWITEMSTRUCT& item) const;
    void LabelURLClick() const;

    OpenLink open_;
    ui::UniqueFont title_;
    ui::UniqueFont titleBlue_;
    ui::UniqueFont link_;
    ui::UniqueBitmap picture_;
};
