#include "main/views/MessageListView.h"

#include "main/views/FindBox.h"
#include "main/views/MessageFind.h"
#include "main/views/MessageListSync.h"
#include "ui/RedrawGuard.h"
#include "ui/Dpi.h"
#include "ui/Clock.h"

#include <commctrl.h>

namespace {

int NextItem(HWND list, int start, UINT flags) {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

// The sort's steps come on this timer: timers come only when no other message
// waits, so input and paints go first.
constexpr UINT_PTR kSortTimer = 0x534F;
// Work per step: well inside what a user notices as a window not answering.
constexpr double kSortStepMs = 60;

void SelectOnly(HWND list, int row) {
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    SendMessageW(list, LVM_SETSELECTIONMARK, 0, row);
    ListView_EnsureVisible(list, row, FALSE);
}

} // namespace

MessageListView::MessageListView() = default;
MessageListView::~MessageListView() = default;

HWND MessageListView::Create(HWND parent, int id, const controls::Place& place, HFONT font) {
    list_ = controls::MakeChild(WC_LISTVIEWW, L"",
                                LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA | WS_TABSTOP,
                                WS_EX_CLIENTEDGE, place, parent, id, font);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES |
                                                 LVS_EX_LABELTIP);
    controls::MenuOnShiftF10(list_);
    SetWindowSubclass(list_, SortProc, 0, reinterpret_cast<DWORD_PTR>(this));
    tip_.Attach(list_,
                [this](POINT client, LabelTip::Label& label) { return CutLabelAt(client, label); });
    return list_;
}

bool MessageListView::CutLabelAt(POINT client, LabelTip::Label& label) const {
    LVHITTESTINFO hit{};
    hit.pt = client;
    const auto row = static_cast<int>(
        SendMessageW(list_, LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row < 0 || static_cast<size_t>(row) >= rows_.Count() || !(hit.flags & LVHT_ONITEM) ||
        hit.iSubItem < 0 || hit.iSubItem > message_sort::kReceived)
        return false;
    RECT cell{};
    if (!ListView_GetSubItemRect(list_, row, hit.iSubItem, LVIR_LABEL, &cell))
        return false;
    const auto index = static_cast<size_t>(row);
    label.text = hit.iSubItem == message_sort::kFrom      ? rows_.From(index)
                 : hit.iSubItem == message_sort::kSubject ? rows_.Subject(index)
                                                          : rows_.ReceivedText(index);
    // The list leaves a margin either side of a cell's text.
    const int margins = ui::Scale(12, ui::ScreenDpi());
    const int needed =
        static_cast<int>(SendMessageW(list_, LVM_GETSTRINGWIDTHW, 0,
                                      reinterpret_cast<LPARAM>(label.text.c_str()))) +
        margins;
    label.place = cell;
    return needed > cell.right - cell.left;
}

void MessageListView::SetImages(HIMAGELIST images) {
    list_sync::SetUpColumns(list_, images);
    list_sync::KeepInSync(list_, rows_);
}

void MessageListView::Clear() {
    StopSort();
    list_sync::Clear(list_, rows_);
    pendingDelete_.clear();
    idsAscending_ = true;
    if (sort_.Active()) {
        sort_ = message_sort::SortOrder();
        ShowSortArrow();
    }
}

void MessageListView::Append(IStoreFolder* folder) {
    size_t from = rows_.Count();
    list_sync::AppendFolder(list_, rows_, folder);
    for (size_t i = from > 0 ? from : 1; idsAscending_ && i < rows_.Count(); ++i)
        idsAscending_ = rows_.Id(i - 1) < rows_.Id(i);
}

void MessageListView::Insert(size_t at, MessageRow row) {
    idsAscending_ = idsAscending_ && (at == 0 || rows_.Id(at - 1) < row.id) &&
                    (at >= rows_.Count() || row.id < rows_.Id(at));
    list_sync::InsertRow(list_, rows_, at, std::move(row));
}

void MessageListView::InsertNew(const MESSAGEID* previous, MessageRow row) {
    std::ptrdiff_t before = previous ? rows_.FindFirst(*previous) : -1;
    if (!sort_.Active()) {
        Insert(before >= 0 ? static_cast<size_t>(before) + 1 : 0, std::move(row));
        return;
    }
    const size_t slot = before >= 0 ? rows_.Slot(static_cast<size_t>(before)) + 1 : 0;
    const size_t at = message_sort::SortedPlace(rows_, sort_, row, slot);
    list_sync::InsertAt(list_, rows_, at, slot, std::move(row));
}

void MessageListView::SortBy(int column) {
    if (column < message_sort::kFrom || column > message_sort::kFlag)
        return;
    // A second click while a sort is made reverses the one asked for.
    const message_sort::SortOrder last = job_ ? job_->Order() : sort_;
    message_sort::SortOrder order{column, last.column == column && !last.descending};
    StopSort();
    if (ranksColumn_ == column && ranksVersion_ == rows_.Version() &&
        ranks_.size() == rows_.Count()) {
        sort_ = order;
        idsAscending_ = false;
        list_sync::Reorder(list_, rows_, message_sort::OrderByRanks(ranks_, order.descending));
        ShowSortArrow();
        return;
    }
    job_ = std::make_unique<message_sort::SortJob>(rows_, order);
    ContinueSort();
    if (job_) {
        SetTimer(list_, kSortTimer, USER_TIMER_MINIMUM, nullptr);
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
    }
}

void MessageListView::ContinueSort() {
    if (!job_)
        return;
    if (job_->Version() != rows_.Version()) // rows came or went: their slots moved
        job_ = std::make_unique<message_sort::SortJob>(rows_, job_->Order());
    // Small lists sort at once: steps go on while the time for one lasts.
    const double until = ui::NowMs() + kSortStepMs;
    bool done = false;
    for (double now = ui::NowMs(); !done && now < until; now = ui::NowMs())
        done = job_->Step(until - now);
    if (!done)
        return;
    sort_ = job_->Order();
    ranks_ = job_->TakeRanks();
    ranksColumn_ = ranks_.empty() ? message_sort::kNone : sort_.column;
    ranksVersion_ = rows_.Version();
    std::vector<uint32_t> order = job_->TakeOrder();
    StopSort();
    idsAscending_ = false;
    list_sync::Reorder(list_, rows_, std::move(order));
    ShowSortArrow();
}

void MessageListView::StopSort() {
    if (!job_)
        return;
    job_.reset();
    KillTimer(list_, kSortTimer); // the arrow comes back with the mouse's next move
}

LRESULT CALLBACK MessageListView::SortProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<MessageListView*>(data);
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, SortProc, id);
    } else if (message == WM_TIMER && wParam == kSortTimer) {
        try {
            self->ContinueSort();
        } catch (...) {
            self->job_.reset(); // out of memory: the rows keep their order
            KillTimer(list, kSortTimer);
        }
        return 0;
    } else if (message == WM_SETCURSOR && self->job_ && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_APPSTARTING));
        return TRUE;
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

void MessageListView::ShowSortArrow() {
    HWND header = ListView_GetHeader(list_);
    const int columns = header ? Header_GetItemCount(header) : 0;
    for (int i = 0; i < columns; ++i) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!Header_GetItem(header, i, &item))
            continue;
        int format = item.fmt & ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == sort_.column)
            format |= sort_.descending ? HDF_SORTDOWN : HDF_SORTUP;
        if (format != item.fmt) {
            item.fmt = format;
            Header_SetItem(header, i, &item);
        }
    }
}

bool MessageListView::FindNext(const std::wstring& text, bool forward) {
    const int focus = NextItem(list_, -1, LVNI_FOCUSED);
    const std::ptrdiff_t found = message_find::Next(rows_, text, focus, forward);
    if (found < 0) {
        MessageBeep(MB_OK);
        return false;
    }
    SelectOnly(list_, static_cast<int>(found));
    return true;
}

void MessageListView::OpenFind() {
    if (!find_)
        find_ = std::make_unique<FindBox>([this](const std::wstring& text, bool forward) {
            try {
                return FindNext(text, forward);
            } catch (...) {
                MessageBeep(MB_ICONERROR); // out of memory: nothing is found
                return false;
            }
        });
    find_->Open(GetAncestor(list_, GA_ROOT));
}

void MessageListView::FindAgain(bool forward) {
    const std::wstring text = find_ ? find_->Text() : std::wstring();
    if (text.empty())
        OpenFind();
    else
        find_->ShowFound(FindNext(text, forward));
}

bool MessageListView::PreTranslate(MSG& message) {
    return find_ && find_->PreTranslate(message);
}

void MessageListView::DeleteFirst(MESSAGEID id) {
    std::ptrdiff_t row = rows_.FindFirst(id);
    if (row >= 0)
        list_sync::DeleteRow(list_, rows_, static_cast<size_t>(row));
    if (pendingDelete_.erase(id) == 0 || !pendingDelete_.empty() || rows_.Count() == 0)
        return;
    std::ptrdiff_t next = afterDelete_ ? rows_.FindFirst(*afterDelete_) : -1;
    if (next < 0)
        next = static_cast<std::ptrdiff_t>(rows_.Count()) - 1;
    SelectOnly(list_, static_cast<int>(next));
}

void MessageListView::DeleteRequested() {
    const std::vector<MESSAGEID> ids = SelectedIds();
    pendingDelete_ = std::unordered_set<MESSAGEID>(ids.begin(), ids.end());
    afterDelete_.reset();
    int last = -1;
    if (!ids.empty() && ids.size() < rows_.Count()) // with every row going, none stays after
        for (int row = NextItem(list_, -1, LVNI_SELECTED); row >= 0;
             row = NextItem(list_, row, LVNI_SELECTED))
            last = row;
    // The first row after the last selected one that stays.
    for (int row = last + 1; last >= 0 && static_cast<size_t>(row) < rows_.Count(); ++row) {
        if (!(ListView_GetItemState(list_, row, LVIS_SELECTED) & LVIS_SELECTED)) {
            afterDelete_ = rows_.Id(static_cast<size_t>(row));
            break;
        }
    }
}

void MessageListView::SetImage(MESSAGEID id, int image) {
    std::ptrdiff_t row = rows_.FindFirst(id);
    if (row >= 0)
        list_sync::SetRowImage(list_, rows_, static_cast<size_t>(row), image);
}

void MessageListView::SetAllImages(int image) {
    list_sync::SetAllRowImages(list_, rows_, image);
}

bool MessageListView::HandleNotify(const NMHDR* header, LRESULT& result) {
    if (header->code == LVN_COLUMNCLICK) {
        SortBy(reinterpret_cast<const NMLISTVIEW*>(header)->iSubItem);
        result = 0;
        return true;
    }
    return list_sync::HandleNotify(rows_, header, result);
}

int MessageListView::SelectedCount() const {
    return static_cast<int>(SendMessageW(list_, LVM_GETSELECTEDCOUNT, 0, 0));
}

std::vector<MESSAGEID> MessageListView::SelectedIds() const {
    const int count = SelectedCount();
    std::vector<MESSAGEID> ids;
    if (count <= 0)
        return ids;
    ids.reserve(static_cast<size_t>(count));
    // Every row (Ctrl+A): no need to ask the view row by row.
    if (static_cast<size_t>(count) == rows_.Count()) {
        for (size_t row = 0; row < rows_.Count(); ++row)
            ids.push_back(rows_.Id(row));
        return ids;
    }
    for (int row = NextItem(list_, -1, LVNI_SELECTED);
         row >= 0 && ids.size() < static_cast<size_t>(count);
         row = NextItem(list_, row, LVNI_SELECTED)) {
        if (static_cast<size_t>(row) < rows_.Count())
            ids.push_back(rows_.Id(static_cast<size_t>(row)));
    }
    return ids;
}

bool MessageListView::OverHeader(POINT screen) const {
    HWND header = ListView_GetHeader(list_);
    RECT place{};
    return header && IsWindowVisible(header) && GetWindowRect(header, &place) &&
           PtInRect(&place, screen);
}

int MessageListView::RowAt(POINT client) const {
    LVHITTESTINFO hit{};
    hit.pt = client;
    int row = static_cast<int>(SendMessageW(list_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return (hit.flags & LVHT_ONITEM) ? row : -1;
}

int MessageListView::ImageOf(int row) const {
    if (row < 0 || static_cast<size_t>(row) >= rows_.Count())
        return -1;
    return rows_.Image(static_cast<size_t>(row));
}

void MessageListView::SelectAll() {
    // The view repaints every row it selects, on screen or not, each a round
    // trip to the window system: with redrawing off it repaints once.
    RedrawGuard quiet(list_);
    ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
}

int MessageListView::MenuRow() const {
    int row = NextItem(list_, -1, LVNI_FOCUSED);
    if (row < 0 || !(ListView_GetItemState(list_, row, LVIS_SELECTED) & LVIS_SELECTED))
        row = NextItem(list_, -1, LVNI_SELECTED);
    return row;
}

POINT MessageListView::MenuPoint() const {
    const int row = MenuRow();
    POINT at{0, 0};
    RECT bounds{};
    if (row >= 0 && ListView_GetItemRect(list_, row, &bounds, LVIR_LABEL) && bounds.bottom > 0) {
        at = {bounds.left, bounds.bottom};
    } else if (HWND header = ListView_GetHeader(list_)) {
        // No row to stand beside: below the header rather than over it.
        RECT headerRect{};
        GetWindowRect(header, &headerRect);
        at.y = headerRect.bottom - headerRect.top;
    }
    ClientToScreen(list_, &at);
    return at;
}
