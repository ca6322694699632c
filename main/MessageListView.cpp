#include "MessageListView.h"

#include "MessageList.h"

#include <commctrl.h>

namespace {

int NextItem(HWND list, int start, UINT flags) {
    return static_cast<int>(
        SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

} // namespace

HWND MessageListView::Create(HWND parent, int id, const controls::Place& place, HFONT font) {
    list_ = controls::MakeChild(WC_LISTVIEWW, L"",
                                LVS_REPORT | LVS_SHOWSELALWAYS | LVS_OWNERDATA | WS_TABSTOP,
                                WS_EX_CLIENTEDGE, place, parent, id, font);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
    controls::MenuOnShiftF10(list_);
    return list_;
}

void MessageListView::SetImages(HIMAGELIST images) {
    message_list::SetUpColumns(list_, images);
    message_list::KeepInSync(list_, rows_);
}

void MessageListView::Clear() {
    message_list::Clear(list_, rows_);
    idsAscending_ = true;
}

void MessageListView::Append(IStoreFolder* folder) {
    size_t from = rows_.Count();
    message_list::AppendFolder(list_, rows_, folder);
    for (size_t i = from > 0 ? from : 1; idsAscending_ && i < rows_.Count(); ++i)
        idsAscending_ = rows_.Id(i - 1) < rows_.Id(i);
}

void MessageListView::Insert(size_t at, MessageRow row) {
    idsAscending_ = idsAscending_ && (at == 0 || rows_.Id(at - 1) < row.id) &&
                    (at >= rows_.Count() || row.id < rows_.Id(at));
    message_list::InsertRow(list_, rows_, at, std::move(row));
}

void MessageListView::DeleteFirst(MESSAGEID id) {
    std::ptrdiff_t row = rows_.FindFirst(id);
    if (row >= 0)
        message_list::DeleteRow(list_, rows_, static_cast<size_t>(row));
}

void MessageListView::SetImage(MESSAGEID id, int image) {
    std::ptrdiff_t row = rows_.FindFirst(id);
    if (row >= 0)
        message_list::SetRowImage(list_, rows_, static_cast<size_t>(row), image);
}

void MessageListView::SetAllImages(int image) {
    message_list::SetAllRowImages(list_, rows_, image);
}

bool MessageListView::HandleNotify(const NMHDR* header, LRESULT& result) {
    return message_list::HandleNotify(rows_, header, result);
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
