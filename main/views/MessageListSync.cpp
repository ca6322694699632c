// The owner-data list view beside its rows: columns, rows from the store, and
// the view's count, selection and focus kept in step with the rows.
#include "main/views/MessageListSync.h"

#include "main/views/LocalTime.h"
#include "ui/RedrawGuard.h"
#include "store/StoreRecords.h"
#include "resources/ImageLists.h"
#include "ui/Text.h"
#include "ui/Dpi.h"

#include <strsafe.h>

#include <algorithm>
#include <iterator>
#include <optional>
#include <vector>

namespace list_sync {

namespace {

constexpr int kNoImage = -1;

// The view repaints each row whose state changes, on screen or not, each a
// round trip to the window system; past this many rows it repaints once.
constexpr size_t kQuietFrom = 64;

void AddColumn(HWND list, int index, const wchar_t* caption, int width, int format, int image) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = ui::Scale(width, ui::ScreenDpi());
    column.pszText = const_cast<wchar_t*>(caption);
    column.iSubItem = index;
    if (image >= 0) {
        column.mask |= LVCF_IMAGE;
        column.fmt |= LVCFMT_IMAGE;
        column.iImage = image;
    }
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

// A store text as UTF-16; null reads as empty.
std::wstring Widen(const char* text) {
    return text ? ui::FromAnsi(text) : std::wstring();
}

int ItemCount(HWND list) {
    return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
}

void SetCount(HWND list, size_t count) {
    SendMessageW(list, LVM_SETITEMCOUNT, static_cast<WPARAM>(count),
                 LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void SetState(HWND list, int index, UINT state, UINT mask) {
    LVITEMW item{};
    item.state = state;
    item.stateMask = mask;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
}

int NextItem(HWND list, int start, UINT flags) {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

// Selected items at or after `from`, ascending.
std::vector<int> SelectedFrom(HWND list, int from) {
    std::vector<int> selected;
    const auto count = static_cast<int>(SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0));
    if (count == 0)
        return selected;
    // Every item selected: asking the view item by item costs far more.
    if (count == ItemCount(list)) {
        for (int i = std::max(from, 0); i < count; ++i)
            selected.push_back(i);
        return selected;
    }
    for (int i = NextItem(list, from - 1, LVNI_SELECTED); i >= 0;
         i = NextItem(list, i, LVNI_SELECTED))
        selected.push_back(i);
    return selected;
}

// Repaints rows from `first` on, if any of them is on screen.
void InvalidateFrom(HWND list, size_t first) {
    int top = static_cast<int>(SendMessageW(list, LVM_GETTOPINDEX, 0, 0));
    int page = static_cast<int>(SendMessageW(list, LVM_GETCOUNTPERPAGE, 0, 0));
    if (static_cast<long long>(first) <= static_cast<long long>(top) + page)
        InvalidateRect(list, nullptr, FALSE);
}

void CopyText(const std::wstring& text, LVITEMW& item) {
    if (item.pszText && item.cchTextMax > 0)
        StringCchCopyW(item.pszText, static_cast<size_t>(item.cchTextMax), text.c_str());
}

bool MatchesText(const std::wstring& text, const LVFINDINFOW& find) {
    if (!find.psz)
        return false;
    int wanted = lstrlenW(find.psz);
    int length = static_cast<int>(text.size());
    if (find.flags & LVFI_PARTIAL) {
        if (length < wanted)
            return false;
        length = wanted;
    } else if (length != wanted) {
        return false;
    }
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, text.c_str(), length, find.psz,
                          wanted) == CSTR_EQUAL;
}

int FindItem(const MessageRows& rows, const NMLVFINDITEMW& request) {
    const LVFINDINFOW& find = request.lvfi;
    size_t count = rows.Count();
    if (count == 0)
        return -1;
    size_t start = request.iStart >= 0 ? static_cast<size_t>(request.iStart) : 0;
    if (start >= count)
        start = (find.flags & LVFI_WRAP) ? 0 : count;
    if (find.flags & LVFI_PARAM) {
        auto id = static_cast<MESSAGEID>(find.lParam);
        std::ptrdiff_t found = rows.FindFrom(id, start);
        if (found < 0 && (find.flags & LVFI_WRAP))
            found = rows.FindFirst(id);
        return static_cast<int>(found);
    }
    if (!(find.flags & (LVFI_STRING | LVFI_PARTIAL)))
        return -1;
    size_t visits = (find.flags & LVFI_WRAP) ? count : count - start;
    for (size_t step = 0; step < visits; ++step) {
        size_t index = (start + step) % count;
        if (MatchesText(rows.From(index), find))
            return static_cast<int>(index);
    }
    return -1;
}

void FillDisplayInfo(const MessageRows& rows, LVITEMW& item) {
    if (item.iItem < 0 || static_cast<size_t>(item.iItem) >= rows.Count())
        return;
    const auto index = static_cast<size_t>(item.iItem);
    if (item.mask & LVIF_TEXT) {
        switch (item.iSubItem) {
        case 0:
            CopyText(rows.From(index), item);
            break;
        case 1:
            CopyText(rows.Subject(index), item);
            break;
        case 2:
            CopyText(rows.ReceivedText(index), item);
            break;
        default:
            CopyText(std::wstring(), item);
            break;
        }
    }
    if (item.mask & LVIF_IMAGE) {
        if (item.iSubItem == 0)
            item.iImage = rows.Image(index);
        else if (item.iSubItem == 3 && rows.Flagged(index))
            item.iImage = kMessageImageFlag;
        else
            item.iImage = kNoImage;
    }
    if (item.mask & LVIF_PARAM)
        item.lParam = static_cast<LPARAM>(rows.Id(index));
    if (item.mask & LVIF_INDENT)
        item.iIndent = 0;
}

} // namespace

void SetUpColumns(HWND list, HIMAGELIST images) {
    DWORD extended = LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES;
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    AddColumn(list, 0, L"From", 120, LVCFMT_LEFT, -1);
    AddColumn(list, 1, L"Subject", 150, LVCFMT_LEFT, -1);
    AddColumn(list, 2, L"Received", 120, LVCFMT_LEFT, -1);
    AddColumn(list, 3, L"", 40, LVCFMT_CENTER, kMessageImageFlagOutline);
}

MessageRow RowFromProps(const MESSAGEPROPS& props, const localtime_text::LocalTimeZone& zone) {
    MessageRow row;
    row.id = props.dwMessageId;
    row.image = store::IsUnread(props) ? kMessageImageUnread : kMessageImageRead;
    row.flagged = store::IsFlagged(props);
    row.from = Widen(props.pszDisplayFrom);
    row.subject = Widen(props.pszSubject);
    row.received = zone.Resolve(props.ftReceived);
    return row;
}

StoreRow StoreRowFromProps(const MESSAGEPROPS& props, const localtime_text::LocalTimeZone& zone) {
    StoreRow row;
    row.id = props.dwMessageId;
    row.image = store::IsUnread(props) ? kMessageImageUnread : kMessageImageRead;
    row.flagged = store::IsFlagged(props);
    row.from = props.pszDisplayFrom ? props.pszDisplayFrom : "";
    row.subject = props.pszSubject ? props.pszSubject : "";
    row.received = zone.Resolve(props.ftReceived);
    return row;
}

MessageRow RowFromProps(const MESSAGEPROPS& props) {
    return RowFromProps(props, localtime_text::LocalTimeZone());
}

void Clear(HWND list, MessageRows& rows) {
    rows.Clear(); // drops pending changes too: the view is about to be emptied
    SetState(list, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(list, LVM_SETSELECTIONMARK, 0, -1);
    SendMessageW(list, LVM_SETITEMCOUNT, 0, 0);
}

void ShowAppended(HWND list, const MessageRows& rows) {
    auto shown = static_cast<size_t>(ItemCount(list));
    if (shown == rows.Count())
        return;
    SetCount(list, rows.Count());
    InvalidateFrom(list, shown);
}

namespace {

// Asks for one repaint of the whole view; further changes before it comes need
// no request of their own (each costs a round trip to the window system).
void AskRepaint(HWND list, MessageRows& rows) {
    if (!rows.Pending().repaintAsked) {
        rows.Pending().repaintAsked = true;
        InvalidateRect(list, nullptr, FALSE);
    }
}

// Brings the view up to date once a burst of changes is over: timers come
// only when no other message waits.
constexpr UINT_PTR kSyncTimer = 0x5359;

// Questions from other threads and programs are answered from what the view
// shows: catching up on each would cost a pass over the rows per question in
// a burst. The burst's own end (the timer, a paint, input) catches up.
bool AskedFromOutside() {
    return InSendMessageEx(nullptr) != ISMEX_NOSEND;
}

// Starts recording changes for the view, from what it shows now.
MessageRows::PendingView& Begin(HWND list, MessageRows& rows) {
    MessageRows::PendingView& pending = rows.Pending();
    if (!pending.active) {
        pending.shownCount = ItemCount(list);
        pending.shown = SelectedFrom(list, 0);
        for (int item : pending.shown)
            if (static_cast<size_t>(item) < rows.Count())
                rows.SetSelected(static_cast<size_t>(item), true);
        pending.shownFocus = pending.focus = NextItem(list, -1, LVNI_FOCUSED);
        pending.shownMark = pending.mark =
            static_cast<int>(SendMessageW(list, LVM_GETSELECTIONMARK, 0, 0));
        pending.firstChanged = rows.Count();
        pending.active = true;
        // The paint this asks for brings the view up to date first (see KeepInSync);
        // the timer does where nothing is painted.
        AskRepaint(list, rows);
        SetTimer(list, kSyncTimer, USER_TIMER_MINIMUM, nullptr);
    }
    return pending;
}

LRESULT CALLBACK SyncProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                          DWORD_PTR data) {
    auto* rows = reinterpret_cast<MessageRows*>(data);
    if (message == WM_NCDESTROY)
        RemoveWindowSubclass(list, SyncProc, id);
    else if (rows->Pending().active && !AskedFromOutside()) {
        try {
            Flush(list, *rows);
        } catch (...) {
            // Out of memory: the view keeps its old state rather than the
            // exception crossing the window procedure.
            rows->Pending().active = false;
            rows->ClearSelected();
        }
    }
    if (message == WM_TIMER && wParam == kSyncTimer) {
        KillTimer(list, kSyncTimer);
        return 0;
    }
    if (message == WM_PAINT)
        rows->Pending().repaintAsked = false;
    LRESULT result = DefSubclassProc(list, message, wParam, lParam);
    // An owner-data view keeps no data words; answer as a plain list would.
    if ((message == LVM_GETITEMW || message == LVM_GETITEMA) && result && lParam) {
        auto* item = reinterpret_cast<LVITEMW*>(lParam); // lParam sits alike in both forms
        if ((item->mask & LVIF_PARAM) && item->iItem >= 0 &&
            static_cast<size_t>(item->iItem) < rows->Count())
            item->lParam = static_cast<LPARAM>(rows->Id(static_cast<size_t>(item->iItem)));
    }
    return result;
}

} // namespace

namespace {

// The state below an inserted row moves down one.
void Inserted(MessageRows::PendingView& pending, size_t index) {
    int at = static_cast<int>(index);
    if (pending.focus >= at)
        ++pending.focus;
    if (pending.mark >= at)
        ++pending.mark;
    pending.firstChanged = std::min(pending.firstChanged, index);
}

} // namespace

void InsertRow(HWND list, MessageRows& rows, size_t index, MessageRow row) {
    if (index > rows.Count())
        index = rows.Count();
    MessageRows::PendingView& pending = Begin(list, rows);
    // The selection stays with its rows; the new row starts unselected.
    rows.Insert(index, std::move(row));
    Inserted(pending, index);
}

void InsertAt(HWND list, MessageRows& rows, size_t index, size_t slot, MessageRow row) {
    if (index > rows.Count())
        index = rows.Count();
    MessageRows::PendingView& pending = Begin(list, rows);
    rows.InsertAt(index, slot, std::move(row));
    Inserted(pending, index);
}

void Reorder(HWND list, MessageRows& rows, std::vector<uint32_t> slots) {
    Flush(list, rows);
    const size_t count = rows.Count();
    const std::vector<int> shown = SelectedFrom(list, 0);
    const bool all = !shown.empty() && shown.size() == count;
    if (!all)
        for (int item : shown)
            if (static_cast<size_t>(item) < count)
                rows.SetSelected(static_cast<size_t>(item), true);
    // Focus and mark by slot, so they follow their rows.
    const int focus = NextItem(list, -1, LVNI_FOCUSED);
    const auto mark = static_cast<int>(SendMessageW(list, LVM_GETSELECTIONMARK, 0, 0));
    auto slotOf = [&](int item) {
        return item >= 0 && static_cast<size_t>(item) < count ? rows.Slot(static_cast<size_t>(item))
                                                              : count;
    };
    const size_t focusSlot = slotOf(focus), markSlot = slotOf(mark);
    rows.SetOrder(std::move(slots));
    if (!all) {
        const std::vector<int> selected = rows.TakeSelected();
        std::optional<RedrawGuard> quiet;
        if (selected.size() > kQuietFrom)
            quiet.emplace(list);
        SetState(list, -1, 0, LVIS_SELECTED);
        for (int item : selected)
            SetState(list, item, LVIS_SELECTED, LVIS_SELECTED);
    }
    if (focusSlot < count)
        SetState(list, static_cast<int>(rows.ShownOf(focusSlot)), LVIS_FOCUSED, LVIS_FOCUSED);
    if (markSlot < count)
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, static_cast<LPARAM>(rows.ShownOf(markSlot)));
    InvalidateRect(list, nullptr, FALSE);
}

void DeleteRow(HWND list, MessageRows& rows, size_t index) {
    if (index >= rows.Count())
        return;
    MessageRows::PendingView& pending = Begin(list, rows);
    rows.Erase(index);
    int at = static_cast<int>(index);
    // Focus and mark on the deleted row stay at its index, on the row that
    // follows; on the last row they move to the new last row.
    int last = static_cast<int>(rows.Count()) - 1;
    if (pending.focus > at || (pending.focus == at && at > last))
        --pending.focus;
    if (pending.mark > at || (pending.mark == at && at > last))
        --pending.mark;
    pending.firstChanged = std::min(pending.firstChanged, index);
}

void KeepInSync(HWND list, MessageRows& rows) {
    SetWindowSubclass(list, SyncProc, 1, reinterpret_cast<DWORD_PTR>(&rows));
}

void Flush(HWND list, MessageRows& rows) {
    MessageRows::PendingView& pending = rows.Pending();
    if (!pending.active)
        return;
    pending.active = false;
    if (pending.shownCount != static_cast<int>(rows.Count()))
        SetCount(list, rows.Count());
    const std::vector<int> selected = rows.TakeSelected();
    if (selected != pending.shown) {
        std::vector<int> cleared, added;
        std::set_difference(pending.shown.begin(), pending.shown.end(), selected.begin(),
                            selected.end(), std::back_inserter(cleared));
        std::set_difference(selected.begin(), selected.end(), pending.shown.begin(),
                            pending.shown.end(), std::back_inserter(added));
        std::optional<RedrawGuard> quiet;
        if (cleared.size() + added.size() > kQuietFrom)
            quiet.emplace(list);
        for (int item : cleared)
            if (item < static_cast<int>(rows.Count()))
                SetState(list, item, 0, LVIS_SELECTED);
        for (int item : added)
            SetState(list, item, LVIS_SELECTED, LVIS_SELECTED);
    }
    // Shrinking the count may have taken the focus with it, so ask the view.
    int focus = NextItem(list, -1, LVNI_FOCUSED);
    if (focus != pending.focus) {
        if (pending.focus >= 0)
            SetState(list, pending.focus, LVIS_FOCUSED, LVIS_FOCUSED);
        else
            SetState(list, focus, 0, LVIS_FOCUSED);
    }
    if (SendMessageW(list, LVM_GETSELECTIONMARK, 0, 0) != pending.mark)
        SendMessageW(list, LVM_SETSELECTIONMARK, 0, pending.mark);
    InvalidateFrom(list, pending.firstChanged);
    pending.shown.clear();
}

void SetRowImage(HWND list, MessageRows& rows, size_t index, int image) {
    if (index >= rows.Count())
        return;
    rows.SetImage(index, image);
    AskRepaint(list, rows);
}

void SetAllRowImages(HWND list, MessageRows& rows, int image) {
    rows.SetAllImages(image);
    AskRepaint(list, rows);
}

void AppendFolder(HWND list, MessageRows& rows, IStoreFolder* folder) {
    localtime_text::LocalTimeZone zone;
    store_enum::StoreRecord record(folder);
    store_enum::MessageEnum messages(folder);
    if (messages.First(record)) {
        do {
            rows.Append(StoreRowFromProps(record.Props(), zone));
            record.Free();
        } while (messages.Next(record));
    }
    messages.Close();
    ShowAppended(list, rows);
}

bool HandleNotify(const MessageRows& rows, const NMHDR* header, LRESULT& result) {
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        auto* info = reinterpret_cast<NMLVDISPINFOW*>(const_cast<NMHDR*>(header));
        FillDisplayInfo(rows, info->item);
        result = 0;
        return true;
    }
    case LVN_ODFINDITEMW: {
        auto* request = reinterpret_cast<const NMLVFINDITEMW*>(header);
        result = FindItem(rows, *request);
        return true;
    }
    case LVN_ODCACHEHINT:
    case LVN_ODSTATECHANGED:
        // Rows are all in memory; the view keeps the selection itself.
        result = 0;
        return true;
    default:
        return false;
    }
}

} // namespace list_sync
