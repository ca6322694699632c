// The reading pane (F8): below the message list, the focused message's
// decoded text and its attachments. It reads the source through the store
// boundary in slices from the message queue, so a big message shows its first
// screen at once and the window keeps answering; moving to another row drops
// the work for the previous one.
#pragma once

#include "main/views/MessageListView.h"
#include "store/StoreApi.h"
#include "ui/Window.h"

#include "Mime.h"

#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

class ReadingPane final : public ui::Window {
  public:
    static constexpr wchar_t kClassName[] = L"BrisReadingPane";
    // Read at once when a message is shown; the rest follows in slices.
    static constexpr size_t kFirstSlice = 256 * 1024;
    static constexpr size_t kSlice = 4 * 1024 * 1024;

    // `folder` gives the list's open folder (none: no folder).
    ReadingPane(MessageListView& messages, std::function<IStoreFolder*()> folder);
    ~ReadingPane() override;

    // Made hidden; shown by SetVisible.
    bool Create(HWND parent, int id, HFONT font);
    HWND Handle() const { return hwnd_; }
    HWND TextBox() const { return text_; }
    HWND AttachmentList() const { return list_; }
    HWND SaveAllButton() const { return saveAll_; }
    bool Visible() const { return visible_; }
    void SetVisible(bool visible);

    // Shows what the list asks for: the focused row's message when exactly one
    // row is selected, else a line saying so. Nothing is reloaded when the
    // message shown is still the one.
    void Follow();
    // Follow, once, after the list's pending selection changes are handled.
    void RequestFollow();
    // A key held down in the list (its repeats): the pane reads nothing until
    // the key stops and the focus rests, so a held arrow key never costs the
    // window a message's reading per row.
    void HoldWhileRepeating();
    // Reads the whole message now (tests and the save commands need it complete).
    void Finish();

    // The message shown, complete or still being read.
    IStoreFolder* Folder() const { return folder_.Get(); }
    MESSAGEID MessageId() const { return id_; }
    bool Complete() const { return complete_; }
    const std::string& Source() const { return source_; }
    const mailformat::MimeTree& Tree() const { return tree_; }
    const std::vector<mailformat::Attachment>& Attachments() const { return attachments_; }
    // The text box's text as shown so far ("\n" line ends).
    std::wstring Text() const;

    // Enter or a double-click on attachment `index`; the button or Ctrl+S.
    std::function<void(size_t index)> onSave;
    std::function<void()> onSaveAll;
    // The pane's keys, for the message loop; true when handled.
    bool PreTranslate(const MSG& message);

  private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Layout();
    void MakeTextBox();
    void FitTextRect();
    void Clear();
    void ShowLine(const std::wstring& line);
    void Load(IStoreFolder* folder, MESSAGEID id);
    // Reads up to `bytes` more; false (with a line shown) when the store fails.
    bool ReadMore(size_t bytes);
    void ReadNextSlice();
    void ShowParsed();
    void SetText(const std::string& utf8);
    void AddTextPiece();
    void FillAttachments();

    MessageListView& messages_;
    std::function<IStoreFolder*()> openFolder_;
    HWND text_ = nullptr;
    std::vector<HWND> retired_; // hidden text boxes still to destroy (children of the pane)
    HWND list_ = nullptr;
    HWND saveAll_ = nullptr;
    bool visible_ = false;
    bool followPosted_ = false;
    bool held_ = false; // a key repeats; the rest timer follows
    int dpi_ = 96;
    HFONT font_ = nullptr;

    // The message shown. The folder is held so the stream stays valid.
    Microsoft::WRL::ComPtr<IStoreFolder> folder_;
    Microsoft::WRL::ComPtr<IStream> stream_;
    MESSAGEID id_ = 0;
    bool showing_ = false;
    bool complete_ = false;
    unsigned long long size_ = 0;
    std::string source_;
    std::wstring pendingText_; // text still to go into the box
    mailformat::MimeTree tree_;
    std::vector<mailformat::Attachment> attachments_;
};
