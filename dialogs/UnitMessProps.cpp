#include "UnitMessProps.h"

#include "ui/Clock.h"
#include "ui/Dpi.h"
#include "ui/Text.h"
#include "ui/WaitCursor.h"

#include <richedit.h>

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <cstring>
#include <limits>

namespace {

constexpr COLORREF kNavy = RGB(0, 0, 128);
constexpr int kLabelHeight = 13;
constexpr int kRuleLeft = 8;
constexpr int kRuleWidth = 386;

struct Row {
    int caption; // caption label's id
    int captionX;
    int valueId;
    int valueX;
    int y;
};
constexpr Row kRows[] = {
    {IDC_MP_CAPTION_FIRST + 0, 20, IDC_LABELMESSAGEID, 94, 4},
    {IDC_MP_CAPTION_FIRST + 1, 19, IDC_LABELTO, 72, 22},
    {IDC_MP_CAPTION_FIRST + 2, 20, IDC_LABELFROM, 72, 38},
    {IDC_MP_CAPTION_FIRST + 3, 19, IDC_LABELSUBJECT, 72, 54},
    {IDC_MP_CAPTION_FIRST + 4, 20, IDC_LABELSIZE, 72, 80},
    {IDC_MP_CAPTION_FIRST + 5, 20, IDC_LABELPRIORITY, 72, 96},
    {IDC_MP_CAPTION_FIRST + 6, 20, IDC_LABELSENT, 72, 126},
    {IDC_MP_CAPTION_FIRST + 7, 20, IDC_LABELRECEIVED, 72, 142},
};
constexpr int kRuleY[] = {73, 118, 162};

// The first piece fills more than the box's screenful. Later ones are sized
// to a time: a box may pay for each append in proportion to the text it holds
// already, so fixed small pieces would cost more and more each; sized to the
// time, they grow as that cost allows and the appends stay few.
constexpr ULONG kFirstPiece = 8192;
constexpr ULONG kPiece = 16384;
constexpr ULONG kLargestPiece = 8 * 1024 * 1024;
// What one append may take. A box whose every append costs in proportion to
// the text it holds (as one does here) needs pieces large enough that this
// cost stays a small part of each: smaller would make the load grow with the
// square of the source.
constexpr double kPieceMs = 80;
// Work per idle turn: one piece, so the queue is looked at after each.
constexpr DWORD kTurnMs = 50;
constexpr UINT_PTR kLoadTimer = 1;

struct PieceCookie {
    const wchar_t* data;
    size_t left; // characters
};

// The box reads in chunks of its own; a chunk never ends between a CR and
// its LF, which the box would take for two line ends.
DWORD CALLBACK GivePiece(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* got) {
    auto* piece = reinterpret_cast<PieceCookie*>(cookie);
    size_t count = std::min(piece->left, static_cast<size_t>(wanted > 0 ? wanted : 0) / 2);
    if (count > 1 && count < piece->left && piece->data[count - 1] == L'\r')
        --count;
    std::memcpy(buffer, piece->data, count * sizeof(wchar_t));
    piece->data += count;
    piece->left -= count;
    *got = static_cast<LONG>(count * sizeof(wchar_t));
    return 0;
}

// Reads exactly `wanted` bytes; false on a failure or an early end.
bool ReadFully(IStream* source, char* into, ULONG wanted) {
    ULONG total = 0;
    while (total < wanted) {
        ULONG read = 0;
        if (FAILED(source->Read(into + total, wanted - total, &read)) || read == 0)
            return false;
        total += read;
    }
    return true;
}

// The box chooses its own cursor; while the source loads its dialog does. And
// focus from the dialog manager selects nothing: selecting the whole source
// would put the caret, and the view, at its end.
LRESULT CALLBACK SourceBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                               DWORD_PTR) {
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(box, SourceBoxProc, id);
    else if (message == WM_SETCURSOR && SendMessageW(GetParent(box), message, wParam, lParam))
        return TRUE;
    else if (message == WM_GETDLGCODE)
        return DefSubclassProc(box, message, wParam, lParam) & ~DLGC_HASSETSEL;
    return DefSubclassProc(box, message, wParam, lParam);
}

} // namespace

TFormMessProps::TFormMessProps() : ui::Dialog(GetModuleHandleW(nullptr), IDD_MESSPROPS) {
    ui::LoadRichEdit();
}

void TFormMessProps::OnInit() {
    bold_ = DerivedFont(FW_BOLD, false);
    for (int id : {IDC_MP_CAPTION_FIRST + 0, IDC_LABELMESSAGEID})
        SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(bold_.Get()), FALSE);
    for (const Row& row : kRows)
        if (row.valueId != IDC_LABELMESSAGEID)
            SetTextColour(row.valueId, kNavy);
    // Only ever plain text: a source is untrusted mail, never rich text or objects.
    SendMessageW(RichEdit1(), EM_SETTEXTMODE, TM_PLAINTEXT, 0);
    // No word wrap: wrapping a long line costs the box time in the square of
    // its length, and a message may hold one line of megabytes.
    SendMessageW(RichEdit1(), EM_SETTARGETDEVICE, 0, 1);
    // Nothing typed into a read-only box to undo; keeping undo steps for each
    // piece of the source would only cost memory.
    SendMessageW(RichEdit1(), EM_SETUNDOLIMIT, 0, 0);
    SetWindowSubclass(RichEdit1(), SourceBoxProc, 1, 0);
    PlaceControls();
    ShowValues();
    sourceFailed_ = Source && !LoadSource(Source.Get(), SourceSize);
    if (sourceFailed_)
        EndModal(IDCANCEL);
}

void TFormMessProps::ShowValues() {
    if (!Values)
        return;
    const std::pair<int, const std::wstring*> labels[] = {
        {IDC_LABELMESSAGEID, &Values->messageId}, {IDC_LABELTO, &Values->to},
        {IDC_LABELFROM, &Values->from},           {IDC_LABELSUBJECT, &Values->subject},
        {IDC_LABELSIZE, &Values->size},           {IDC_LABELPRIORITY, &Values->priority},
        {IDC_LABELSENT, &Values->sent},           {IDC_LABELRECEIVED, &Values->received},
    };
    for (const auto& [id, text] : labels)
        SetWindowTextW(Item(id), text->c_str());
}

void TFormMessProps::PlaceControls() {
    SizeAndCentre(kClientWidth, kClientHeight);
    const int dpi = Dpi();
    for (const Row& row : kRows) {
        // A caption wider in this font than in the design pushes its value right
        // instead of being cut off.
        const RECT caption = ui::ScaleRect(row.captionX, row.y, 0, kLabelHeight, dpi);
        const int captionRight = caption.left + TextWidth(row.caption);
        const int valueLeft =
            std::max(ui::Scale(row.valueX, dpi), captionRight + ui::Scale(2, dpi));
        PlacePixels(row.caption, {caption.left, caption.top, captionRight, caption.bottom});
        PlacePixels(row.valueId, {valueLeft, caption.top, ui::Scale(kClientWidth - kRuleLeft, dpi),
                                  caption.bottom});
    }
    for (int i = 0; i < 3; ++i)
        Place(IDC_MP_RULE_FIRST + i, kRuleLeft, kRuleY[i], kRuleWidth, 2);
    Place(IDC_MP_SOURCECAPTION, 14, 171, 120, kLabelHeight);
    Place(IDC_RICHEDIT1, 10, 187, 384, 121);
    Place(IDOK, 319, 317, 75, 25);
}

bool TFormMessProps::LoadSource(IStream* source, unsigned long long size) {
    StopLoading();
    HWND box = RichEdit1();
    if (!box || !source)
        return false;
    // The box would stop at 32,767 characters; a source has at most a
    // character per byte.
    const auto limit = static_cast<LPARAM>(
        std::min<unsigned long long>(size + 1, std::numeric_limits<LONG>::max()));
    SendMessageW(box, EM_EXLIMITTEXT, 0, std::max<LPARAM>(limit, 32767));
    source_ = source;
    left_ = size;
    pieceBytes_ = kPiece;
    if (!AddPiece(true)) {
        StopLoading();
        return false;
    }
    if (left_ == 0 && held_.empty()) {
        StopLoading();
        return true;
    }
    // A timer message comes only when nothing else waits: input and paints first.
    if (!SetTimer(Hwnd(), kLoadTimer, USER_TIMER_MINIMUM, nullptr)) {
        StopLoading();
        return false;
    }
    ui::RefreshCursor(Hwnd());
    return true;
}

bool TFormMessProps::LoadMore(DWORD budgetMs) {
    const DWORD start = GetTickCount();
    while (Loading() && (left_ > 0 || !held_.empty())) {
        if (!AddPiece(false)) {
            FailSource();
            return false;
        }
        if (GetTickCount() - start >= budgetMs)
            break;
    }
    if (left_ == 0 && held_.empty())
        StopLoading();
    return Loading();
}

void TFormMessProps::FailSource() {
    // Never a source cut short: the box empties and the dialog ends, as when
    // the first piece fails, and its owner says so.
    StopLoading();
    sourceFailed_ = true;
    SetWindowTextW(RichEdit1(), L"");
    EndModal(IDCANCEL);
}

void TFormMessProps::StopLoading() {
    const bool wasLoading = Loading();
    source_.Reset();
    left_ = 0;
    held_.clear();
    if (Hwnd())
        KillTimer(Hwnd(), kLoadTimer);
    if (wasLoading && Hwnd())
        ui::RefreshCursor(Hwnd());
}

namespace {

// The next piece's size from how long the last piece of `bytes` took: about
// kPieceMs a piece, at most twice the last so one slow turn cannot follow a
// fast one.
ULONG NextPieceBytes(ULONG bytes, double tookMs) {
    const double scaled = bytes * (kPieceMs / std::max(tookMs, 0.5));
    const double bounded = std::min(scaled, 2.0 * bytes);
    return static_cast<ULONG>(
        std::clamp(bounded, static_cast<double>(kPiece), static_cast<double>(kLargestPiece)));
}

// Whether the text's end lies in the box's view, where a piece added shows;
// read from the vertical bar, which the box keeps: asking the box for
// positions or lengths costs it a walk through its text.
bool EndInView(HWND box) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(box, SB_VERT, &info) || info.nPage == 0)
        return true;
    return info.nPos + static_cast<int>(info.nPage) > info.nMax;
}

// The bars took their new ranges while the box did not draw.
void RedrawScrollBars(HWND box) {
    for (int bar : {SB_VERT, SB_HORZ}) {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        if (GetScrollInfo(box, bar, &info))
            SetScrollInfo(box, bar, &info, TRUE);
    }
}

} // namespace

bool TFormMessProps::AddPiece(bool first) {
    HWND box = RichEdit1();
    const double started = ui::NowMs();
    const auto wanted =
        static_cast<ULONG>(std::min<unsigned long long>(left_, first ? kFirstPiece : pieceBytes_));
    std::string piece;
    piece.swap(held_);
    const size_t at = piece.size();
    piece.resize(at + wanted);
    if (!ReadFully(source_.Get(), piece.data() + at, wanted))
        return false;
    left_ -= wanted;
    if (left_ > 0) {
        // A character or a CR LF split between two pieces waits for the rest:
        // either half alone would show as something else.
        size_t whole = ui::WholeChars(piece);
        if (whole > 0 && whole == piece.size() && piece.back() == '\r')
            --whole;
        held_.assign(piece, whole, std::string::npos);
        piece.resize(whole);
    }
    // Converted here, so the box never splits a character between its reads.
    const std::wstring text = ui::FromAnsi(piece);
    PieceCookie cookie{text.data(), text.size()};
    EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&cookie), 0, GivePiece};
    if (first) {
        SendMessageW(box, EM_STREAMIN, SF_TEXT | SF_UNICODE, reinterpret_cast<LPARAM>(&stream));
        // The box shows its first line with the caret there, not where the piece ended.
        CHARRANGE start{0, 0};
        POINT top{0, 0};
        SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&start));
        SendMessageW(box, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&top));
        return stream.dwError == 0 && cookie.left == 0;
    }
    // Added at the end; the user's selection and scroll position stay.
    const bool endShown = EndInView(box);
    CHARRANGE selection{};
    POINT scroll{};
    SendMessageW(box, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    SendMessageW(box, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    // A shown selection moved away and back would repaint everything between
    // it and the end, a cost that grows with the text.
    const bool hide = selection.cpMin != selection.cpMax;
    if (hide)
        SendMessageW(box, EM_HIDESELECTION, TRUE, 0);
    // Nothing drawn while the caret is at the end: the box would show the end.
    SendMessageW(box, WM_SETREDRAW, FALSE, 0);
    CHARRANGE end{std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max()};
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&end));
    SendMessageW(box, EM_STREAMIN, SF_TEXT | SF_UNICODE | SFF_SELECTION,
                 reinterpret_cast<LPARAM>(&stream));
    SendMessageW(box, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selection));
    if (hide)
        SendMessageW(box, EM_HIDESELECTION, FALSE, 0);
    SendMessageW(box, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    SendMessageW(box, WM_SETREDRAW, TRUE, 0);
    // Text added below the view changes only the scroll bars: repainting the
    // whole box for each piece would cost the box more than taking the text.
    if (endShown)
        InvalidateRect(box, nullptr, FALSE);
    RedrawScrollBars(box);
    if (wanted == pieceBytes_)
        pieceBytes_ = NextPieceBytes(wanted, ui::NowMs() - started);
    return stream.dwError == 0 && cookie.left == 0;
}

bool TFormMessProps::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (message == WM_TIMER && wParam == kLoadTimer) {
        // Turns follow each other at once while nothing else waits: the
        // timer's own pause between them would add a fifth to the load.
        // Messages sent from other threads or programs are answered between
        // turns; anything else waiting ends the run until the next timer.
        while (LoadMore(kTurnMs)) {
            const UINT waiting = HIWORD(GetQueueStatus(QS_ALLINPUT & ~QS_TIMER));
            if (waiting & ~QS_SENDMESSAGE)
                break;
            if (waiting) {
                MSG ignored;
                PeekMessageW(&ignored, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            }
        }
        result = TRUE;
        return true;
    }
    if (message == WM_SETCURSOR && Loading()) {
        // Arrow and hourglass: the source is still coming, and the dialog answers.
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        SetWindowLongPtrW(Hwnd(), DWLP_MSGRESULT, TRUE);
        result = TRUE;
        return true;
    }
    // OK, Escape and the close box end the loading with the dialog.
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL))
        StopLoading();
    return Dialog::OnMessage(message, wParam, lParam, result);
}
