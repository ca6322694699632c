// The message properties dialog: a message's fields and its whole source.
// The main window fills it before showing it; it only closes itself.
#pragma once

#include "DialogIds.h"
#include "ui/Dialog.h"
#include "ui/Handles.h"

#include <windows.h>
#include <objidl.h>

#include <string>

class TFormMessProps final : public ui::Dialog {
  public:
    static constexpr wchar_t kCaption[] = L"Message Properties";
    static constexpr int kClientWidth = 402;
    static constexpr int kClientHeight = 348;

    TFormMessProps();
    TFormMessProps(const TFormMessProps&) = delete;
    TFormMessProps& operator=(const TFormMessProps&) = delete;

    HWND LabelMessageId() const { return Item(IDC_LABELMESSAGEID); }
    HWND LabelTo() const { return Item(IDC_LABELTO); }
    HWND LabelFrom() const { return Item(IDC_LABELFROM); }
    HWND LabelSubject() const { return Item(IDC_LABELSUBJECT); }
    HWND LabelSize() const { return Item(IDC_LABELSIZE); }
    HWND LabelPriority() const { return Item(IDC_LABELPRIORITY); }
    HWND LabelSent() const { return Item(IDC_LABELSENT); }
    HWND LabelReceived() const { return Item(IDC_LABELRECEIVED); }
    HWND RichEdit1() const { return Item(IDC_RICHEDIT1); }
    HWND Button1() const { return Item(IDOK); }

    // Replaces the source box's text with `size` bytes read from `source`,
    // always as plain text; false when the box does not take them.
    bool LoadSource(IStream* source, unsigned long long size);

  private:
    void OnInit() override;
    void PlaceControls();

    ui::UniqueFont bold_;
};
