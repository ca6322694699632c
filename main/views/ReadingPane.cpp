#include "main/views/ReadingPane.h"

#include "main/views/LocalTime.h"
#include "ui/Dialog.h"
#include "ui/Dpi.h"
#include "ui/Text.h"

#include <commctrl.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr int kTextId = 1101;
constexpr int kListId = 1102;
constexpr int kSaveAllId = 1103;
constexpr UINT_PTR kSliceTimer = 1;
constexpr UINT_PTR kTextTimer = 2;
constexpr UINT_PTR kRestTimer = 3;
constexpr UINT_PTR kDisposeTimer = 4;
// Longer than a held key's repeat interval (33-40 ms by default), short
// enough that the row the key stops on shows within 100 ms.
constexpr UINT kRestMs = 60;
// Characters put into the box at once, and then in each turn of the queue.
constexpr size_t kFirstText = 4 * 1024;
constexpr size_t kTextPiece = 16 * 1024;
// Text beyond this is not shown; the box takes seconds to fill with more.
constexpr size_t kMaxText = 512 * 1024;

constexpr UINT kFollowMessage = WM_APP + 27;

// The Date: line as the list shows a time.
std::string DateText(uint64_t fileTime) {
    FILETIME utc{static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
    return ui::ToUtf8(localtime_text::LocalTimeText(utc));
}

std::wstring SizeText(uint64_t bytes) {
    wchar_t text[32];
    if (bytes < 1024)
        swprintf(text, 32, L"%u bytes", static_cast<unsigned>(bytes));
    else if (bytes < 1024 * 1024)
        swprintf(text, 32, L"%.1f KB", static_cast<double>(bytes) / 1024.0);
    else
        swprintf(text, 32, L"%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

std::wstring Hex(HRESULT status) {
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", static_cast<unsigned>(status));
    return text;
}

} // namespace

ReadingPane::ReadingPane(MessageListView& messages, std::function<IStoreFolder*()> folder)
    : messages_(messages), openFolder_(std::move(folder)) {}

ReadingPane::~ReadingPane() {
    if (hwnd_)
        DestroyWindow(hwnd_);
}

bool ReadingPane::Create(HWND parent, int id, HFONT font) {
    WNDCLASSEXW windowClass{};
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kClassName;
    if (!RegisterWindowClass(windowClass))
        return false;
    dpi_ = ui::ScreenDpi();
    // A control parent: Tab moves through the text, the list and the button.
    if (!CreateWindowFor(WS_EX_CONTROLPARENT, kClassName, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0,
                         0, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                         windowClass.hInstance))
        return false;
    font_ = font;
    MakeTextBox();
    list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                            WS_CHILD | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                                LVS_NOSORTHEADER,
                            0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(kListId), nullptr, nullptr);
    saveAll_ =
        CreateWindowExW(0, L"BUTTON", L"Save all...", WS_CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0, 0,
                        0, 0, hwnd_, reinterpret_cast<HMENU>(kSaveAllId), nullptr, nullptr);
    for (HWND child : {list_, saveAll_})
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT);
    const struct {
        const wchar_t* caption;
        int width;
        int format;
    } columns[] = {{L"Attachment", 160, LVCFMT_LEFT},
                   {L"Type", 110, LVCFMT_LEFT},
                   {L"Size", 64, LVCFMT_RIGHT}};
    int index = 0;
    for (const auto& c : columns) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.fmt = c.format;
        column.cx = ui::Scale(c.width, dpi_);
        column.pszText = const_cast<wchar_t*>(c.caption);
        ListView_InsertColumn(list_, index++, &column);
    }
    // The dialog manager would take Enter for a default button.
    ui::KeepKey(list_, VK_RETURN, true);
    return true;
}

// A new box in place of the old one: emptying a box of much text costs it
// seconds, destroying it next to nothing.
void ReadingPane::MakeTextBox() {
    ui::LoadRichEdit();
    HWND old = text_;
    const bool focused = old && GetFocus() == old;
    RECT place{};
    if (old) {
        GetWindowRect(old, &place);
        MapWindowPoints(HWND_DESKTOP, hwnd_, reinterpret_cast<POINT*>(&place), 2);
    }
    text_ = CreateWindowExW(WS_EX_CLIENTEDGE, RICHEDIT_CLASSW, L"",
                            WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE |
                                ES_READONLY | ES_AUTOVSCROLL | ES_NOHIDESEL,
                            place.left, place.top, place.right - place.left,
                            place.bottom - place.top, hwnd_, nullptr, nullptr, nullptr);
    SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // Only ever plain text: mail is untrusted, never rich text or objects.
    SendMessageW(text_, EM_SETTEXTMODE, TM_PLAINTEXT, 0);
    SendMessageW(text_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageW(text_, EM_SETUNDOLIMIT, 0, 0);
    if (old) {
        // The same place in the tab order, then the same id.
        SetWindowPos(text_, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        if (focused)
            SetFocus(text_);
        // A box of much text takes tens of milliseconds to go: it goes from a
        // timer, which comes after the new text is painted.
        ShowWindow(old, SW_HIDE);
        SetWindowLongPtrW(old, GWLP_ID, 0);
        retired_.push_back(old);
        SetTimer(hwnd_, kDisposeTimer, USER_TIMER_MINIMUM, nullptr);
    } else {
        SetWindowPos(text_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SetWindowLongPtrW(text_, GWLP_ID, kTextId);
    FitTextRect();
}

// The log's inner margin, so the text does not touch the edge at any DPI. Set
// as the box's text rectangle after each resize: margins alone are not kept
// by every rich edit.
void ReadingPane::FitTextRect() {
    RECT rect{};
    GetClientRect(text_, &rect);
    const int margin = ui::Scale(5, dpi_);
    if (rect.right <= 2 * margin)
        return;
    rect.left += margin;
    rect.right -= margin;
    rect.top += ui::Scale(2, dpi_);
    // Setting it lays out all the text again: only when it changes.
    RECT now{};
    SendMessageW(text_, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&now));
    if (!EqualRect(&now, &rect))
        SendMessageW(text_, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&rect));
}

void ReadingPane::SetVisible(bool visible) {
    if (visible == visible_ || !hwnd_)
        return;
    visible_ = visible;
    if (!visible) {
        KillTimer(hwnd_, kRestTimer);
        held_ = false;
        // Focus in the pane goes back to the list before the pane hides.
        HWND focus = GetFocus();
        if (focus && (focus == hwnd_ || IsChild(hwnd_, focus)))
            SetFocus(messages_.Handle());
        ShowWindow(hwnd_, SW_HIDE);
        Clear();
        return;
    }
    ShowWindow(hwnd_, SW_SHOW);
    Follow();
}

// ---- What is shown --------------------------------------------------------------------------

void ReadingPane::Clear() {
    KillTimer(hwnd_, kSliceTimer);
    KillTimer(hwnd_, kTextTimer);
    std::wstring().swap(pendingText_);
    stream_.Reset();
    folder_.Reset();
    id_ = 0;
    showing_ = false;
    complete_ = false;
    size_ = 0;
    std::string().swap(source_);
    tree_ = mailformat::MimeTree();
    attachments_.clear();
}

void ReadingPane::ShowLine(const std::wstring& line) {
    Clear();
    if (GetWindowTextLengthW(text_) > static_cast<int>(kFirstText))
        MakeTextBox();
    SetWindowTextW(text_, line.c_str());
    FillAttachments();
}

void ReadingPane::RequestFollow() {
    if (!visible_ || followPosted_ || held_)
        return;
    followPosted_ = PostMessageW(hwnd_, kFollowMessage, 0, 0) != FALSE;
}

void ReadingPane::HoldWhileRepeating() {
    if (!visible_)
        return;
    held_ = SetTimer(hwnd_, kRestTimer, kRestMs, nullptr) != 0;
}

void ReadingPane::Follow() {
    if (!visible_)
        return;
    const int selected = messages_.SelectedCount();
    if (selected != 1) {
        if (showing_ || GetWindowTextLengthW(text_) == 0 || !folder_) {
            ShowLine(selected == 0 ? L"No message is selected."
                                   : std::to_wstring(selected) +
                                         L" messages are selected; select one to read it.");
        }
        return;
    }
    IStoreFolder* folder = openFolder_ ? openFolder_() : nullptr;
    const int row = messages_.MenuRow();
    if (!folder || row < 0 || static_cast<size_t>(row) >= messages_.Rows().Count()) {
        ShowLine(L"No message is selected.");
        return;
    }
    const MESSAGEID id = messages_.Rows().Id(static_cast<size_t>(row));
    if (showing_ && folder == folder_.Get() && id == id_)
        return;
    Load(folder, id);
}

void ReadingPane::Load(IStoreFolder* folder, MESSAGEID id) {
    Clear();
    Microsoft::WRL::ComPtr<IStream> stream;
    HRESULT status =
        folder->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(stream.GetAddressOf()));
    if (status != S_OK || !stream) {
        ShowLine(L"The message cannot be read (" + Hex(status) + L").");
        return;
    }
    STATSTG stat{};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) {
        ShowLine(L"The message cannot be read.");
        return;
    }
    folder_ = folder;
    stream_ = stream;
    id_ = id;
    showing_ = true;
    size_ = stat.cbSize.QuadPart;
    source_.reserve(static_cast<size_t>(std::min<unsigned long long>(size_, 1ull << 31)));
    if (!ReadMore(kFirstSlice))
        return;
    ShowParsed();
    if (!complete_)
        SetTimer(hwnd_, kSliceTimer, 0, nullptr);
}

bool ReadingPane::ReadMore(size_t bytes) {
    const size_t had = source_.size();
    const unsigned long long left = size_ > had ? size_ - had : 0;
    const size_t want = static_cast<size_t>(std::min<unsigned long long>(bytes, left));
    source_.resize(had + want);
    size_t got = 0;
    while (got < want) {
        ULONG read = 0;
        HRESULT status =
            stream_->Read(source_.data() + had + got, static_cast<ULONG>(want - got), &read);
        if (FAILED(status)) {
            ShowLine(L"The message cannot be read (" + Hex(status) + L").");
            return false;
        }
        if (read == 0)
            break;
        got += read;
    }
    source_.resize(had + got);
    // A stream that ends early ends the message there.
    complete_ = got < want || source_.size() >= size_;
    if (complete_)
        stream_.Reset();
    return true;
}

void ReadingPane::ReadNextSlice() {
    if (!showing_ || complete_ || !stream_) {
        KillTimer(hwnd_, kSliceTimer);
        return;
    }
    if (!ReadMore(kSlice))
        return;
    if (complete_) {
        KillTimer(hwnd_, kSliceTimer);
        ShowParsed();
    }
}

void ReadingPane::Finish() {
    while (showing_ && !complete_ && stream_) {
        if (!ReadMore(kSlice))
            return;
    }
    if (showing_ && complete_ && tree_.parts.empty()) {
        KillTimer(hwnd_, kSliceTimer);
        ShowParsed();
    }
}

// A part read so far shows its text; the attachments come once all is read.
void ReadingPane::ShowParsed() {
    mailformat::MimeTree tree = mailformat::ParseMime(source_);
    mailformat::Reading reading = mailformat::Render(source_, tree, DateText, kMaxText);
    if (reading.textCut)
        reading.text += "\n[The rest of the text is not shown; it is too long.]\n";
    if (!complete_) {
        reading.text += "\n[Reading the rest of the message...]\n";
        SetText(reading.text);
        return;
    }
    tree_ = std::move(tree);
    attachments_ = std::move(reading.attachments);
    if (tree_.capped)
        reading.text +=
            "\n[Some parts are not shown: the message nests too deep or has too many.]\n";
    SetText(reading.text);
    FillAttachments();
}

// Lines are broken after kMaxLine characters: the box wraps a line without
// break points in time that grows with its square. The first screen goes in
// at once, the rest in pieces from the queue.
void ReadingPane::SetText(const std::string& utf8) {
    constexpr size_t kMaxLine = 1000;
    std::wstring text;
    const std::wstring wide = ui::FromUtf8(utf8);
    text.reserve(wide.size() + wide.size() / 16);
    size_t column = 0;
    for (wchar_t c : wide) {
        if (c == L'\n') {
            text += L"\r\n";
            column = 0;
            continue;
        }
        if (column == kMaxLine) {
            text += L"\r\n";
            column = 0;
        }
        text.push_back(c);
        ++column;
    }
    KillTimer(hwnd_, kTextTimer);
    pendingText_.clear();
    if (GetWindowTextLengthW(text_) > static_cast<int>(kFirstText))
        MakeTextBox();
    // While the message is still being read, only its first screen shows.
    if (!complete_ && text.size() > kFirstText)
        text.resize(kFirstText);
    if (text.size() > kFirstText) {
        size_t cut = text.rfind(L'\n', kFirstText);
        cut = cut == std::wstring::npos || cut == 0 ? kFirstText : cut + 1;
        pendingText_ = text.substr(cut);
        text.resize(cut);
        SetTimer(hwnd_, kTextTimer, USER_TIMER_MINIMUM, nullptr);
    }
    SetWindowTextW(text_, text.c_str());
}

void ReadingPane::AddTextPiece() {
    const size_t n = std::min(pendingText_.size(), kTextPiece);
    std::wstring piece = pendingText_.substr(0, n);
    pendingText_.erase(0, n);
    if (pendingText_.empty())
        KillTimer(hwnd_, kTextTimer);
    // Added at the end; the user's selection and scroll position stay.
    CHARRANGE selection{};
    POINT scroll{};
    SendMessageW(text_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(text_, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    SendMessageW(text_, WM_SETREDRAW, FALSE, 0);
    CHARRANGE end{0x7FFFFFFF, 0x7FFFFFFF};
    SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageW(text_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
    SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(text_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    SendMessageW(text_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(text_, nullptr, FALSE);
}

std::wstring ReadingPane::Text() const {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(text_)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(text_, text.data(), static_cast<int>(text.size()))));
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            out.push_back(L'\n');
            if (i + 1 < text.size() && text[i + 1] == L'\n')
                ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

void ReadingPane::FillAttachments() {
    ListView_DeleteAllItems(list_);
    int row = 0;
    for (const mailformat::Attachment& a : attachments_) {
        std::wstring name = ui::FromUtf8(a.name.empty() ? "(no name)" : a.name);
        std::wstring type = ui::FromUtf8(a.contentType);
        std::wstring size = SizeText(a.size);
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = name.data();
        ListView_InsertItem(list_, &item);
        ListView_SetItemText(list_, row, 1, type.data());
        ListView_SetItemText(list_, row, 2, size.data());
        ++row;
    }
    if (row > 0)
        ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    Layout();
}

// ---- Window ---------------------------------------------------------------------------------

// The text fills the pane; attachments, when there are any, take a strip
// below it with the button to their right.
void ReadingPane::Layout() {
    RECT rect{};
    GetClientRect(hwnd_, &rect);
    const int width = rect.right;
    const int height = rect.bottom;
    const bool any = !attachments_.empty();
    const int gap = ui::Scale(4, dpi_);
    const int strip = any ? std::min(ui::Scale(76, dpi_), height / 2) : 0;
    const int buttonWidth = ui::Scale(80, dpi_);
    const int buttonHeight = ui::Scale(23, dpi_);
    const int textHeight = std::max(0, height - (any ? strip + gap : 0));
    MoveWindow(text_, 0, 0, width, textHeight, TRUE);
    FitTextRect();
    MoveWindow(list_, 0, textHeight + gap, std::max(0, width - buttonWidth - gap), strip, TRUE);
    MoveWindow(saveAll_, std::max(0, width - buttonWidth), textHeight + gap, buttonWidth,
               buttonHeight, TRUE);
    ShowWindow(list_, any ? SW_SHOWNA : SW_HIDE);
    ShowWindow(saveAll_, any ? SW_SHOWNA : SW_HIDE);
}

bool ReadingPane::PreTranslate(const MSG& message) {
    if (!visible_ || message.message != WM_KEYDOWN || !message.hwnd ||
        (message.hwnd != hwnd_ && !IsChild(hwnd_, message.hwnd)))
        return false;
    if (message.wParam == 'S' && (GetKeyState(VK_CONTROL) & 0x8000)) {
        if (onSaveAll && !attachments_.empty())
            onSaveAll();
        return true;
    }
    if (message.wParam == 'A' && (GetKeyState(VK_CONTROL) & 0x8000) && message.hwnd == text_) {
        SendMessageW(text_, EM_SETSEL, 0, -1);
        return true;
    }
    return false;
}

LRESULT ReadingPane::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        Layout();
        return 0;
    case WM_TIMER:
        if (wParam == kSliceTimer)
            ReadNextSlice();
        else if (wParam == kTextTimer)
            AddTextPiece();
        else if (wParam == kDisposeTimer) {
            // One a turn: each may take a while.
            if (!retired_.empty()) {
                DestroyWindow(retired_.back());
                retired_.pop_back();
            }
            if (retired_.empty())
                KillTimer(hwnd_, kDisposeTimer);
        } else if (wParam == kRestTimer) {
            KillTimer(hwnd_, kRestTimer);
            held_ = false;
            Follow();
        }
        return 0;
    case kFollowMessage:
        followPosted_ = false;
        Follow();
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kSaveAllId && HIWORD(wParam) == BN_CLICKED) {
            if (onSaveAll && !attachments_.empty())
                onSaveAll();
            return 0;
        }
        break;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (!header || header->hwndFrom != list_)
            break;
        int row = -1;
        if (header->code == NM_DBLCLK)
            row = reinterpret_cast<const NMITEMACTIVATE*>(header)->iItem;
        else if (header->code == NM_RETURN)
            row = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
        else
            break;
        if (row >= 0 && static_cast<size_t>(row) < attachments_.size() && onSave)
            onSave(static_cast<size_t>(row));
        return 0;
    }
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}
