// The message properties dialog: a message's fields and its whole source.
// The main window sets the texts and the source before showing it; the dialog
// fills its controls from them when it starts, and only closes itself.
#pragma once

#include "UnitMessPropsIds.h"
#include "ui/Dialog.h"
#include "ui/Handles.h"

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <optional>
#include <string>

class TFormMessProps final : public ui::Dialog {
  public:
    static constexpr wchar_t kCaption[] = L"Message Properties";
    static constexpr int kClientWidth = 402;
    static constexpr int kClientHeight = 348;

    TFormMessProps();
    TFormMessProps(const TFormMessProps&) = delete;
    TFormMessProps& operator=(const TFormMessProps&) = delete;

    // ---- Fields, set before showing -------------------------------------------------
    // The value labels' texts; without them each label keeps its "0".
    struct Texts {
        std::wstring messageId, to, from, subject, size, priority, sent, received;
    };
    std::optional<Texts> Values;
    // The source shown in the box, read from its start; none leaves the box empty.
    Microsoft::WRL::ComPtr<IStream> Source;
    unsigned long long SourceSize = 0;

    // ---- Read after -------------------------------------------------------------------
    // The source could not be read or the box did not take it: the dialog
    // ended, unseen when it was the first piece, with the box emptied.
    bool SourceFailed() const { return sourceFailed_; }

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
    // always as plain text: the first screenful now, the rest in pieces
    // whenever the dialog's queue is idle, so a big source never stops the
    // window from answering. False when the box does not take the first piece.
    bool LoadSource(IStream* source, unsigned long long size);
    // True while part of the source is still to come.
    bool Loading() const { return source_ != nullptr; }
    // Adds pieces until about `budgetMs` have passed; false once nothing is
    // left to load (all of it in, or the source failed: then SourceFailed()).
    bool LoadMore(DWORD budgetMs);
    // Ends the loading; the box keeps what it shows.
    void StopLoading();

  private:
    void OnInit() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void PlaceControls();
    void ShowValues();
    // Reads and adds one piece; false when the source or the box failed.
    bool AddPiece(bool first);
    void FailSource();

    ui::UniqueFont bold_;
    Microsoft::WRL::ComPtr<IStream> source_;
    unsigned long long left_ = 0; // bytes still to read from source_
    std::string held_;            // a character's or a line end's start, waiting for the rest
    bool sourceFailed_ = false;
};
