// The main window's message list: owns its report list view and the rows it
// shows. Rows change only through these methods (see list_sync).
#pragma once

#include "main/views/Controls.h"
#include "main/views/LabelTip.h"
#include "main/views/MessageRows.h"
#include "main/views/MessageSort.h"
#include "store/StoreApi.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

class FindBox;

class MessageListView {
  public:
    MessageListView();
    ~MessageListView();
    MessageListView(const MessageListView&) = delete;
    MessageListView& operator=(const MessageListView&) = delete;

    // Owner-data report list: multi-select, whole-row selection kept visible.
    HWND Create(HWND parent, int id, const controls::Place& place, HFONT font);
    HWND Handle() const { return list_; }
    // Columns, row images, and the view kept in step with the rows.
    void SetImages(HIMAGELIST images);
    MessageRows& Rows() { return rows_; }

    // Empties the list; the next rows come in the store's order.
    void Clear();
    // Appends a row for every message of `folder`.
    void Append(IStoreFolder* folder);
    void Insert(size_t at, MessageRow row);
    // A new message whose predecessor in the store's order is `previous`
    // (null: it comes first): after that row, or in its sorted place.
    void InsertNew(const MESSAGEID* previous, MessageRow row);
    // Removes the first row with `id`, if there is one.
    void DeleteFirst(MESSAGEID id);
    // The user deletes the selected rows: once the last of them is gone, the
    // row after them (or the new last row) is selected and focused.
    void DeleteRequested();
    void DeleteFailed() { pendingDelete_.clear(); }
    // Sets the image of the first row with `id`, if there is one.
    void SetImage(MESSAGEID id, int image);
    void SetAllImages(int image);
    // True while the rows' ids rise from top to bottom: every walk of the
    // folder so far came in id order and every insert kept it.
    bool IdsAscending() const { return idsAscending_ && !sort_.Active(); }

    // A header click: sorts by that column, or reverses the sort when it is
    // the column sorted by. Selection and focus stay on their rows.
    void SortBy(int column);
    message_sort::SortOrder Sort() const { return sort_; }

    // Selects, focuses and shows the next row (or the previous one) whose
    // sender or subject contains `text`, past the focused row and wrapping.
    bool FindNext(const std::wstring& text, bool forward);
    // Ctrl+F: the find box. F3 and Shift+F3: its text again (the box opens
    // when there is none).
    void OpenFind();
    void FindAgain(bool forward);
    // The find box's keys, for the message loop; true when handled.
    bool PreTranslate(MSG& message);
    // A cell's text cut short under a point, for its label tip.
    bool CutLabelAt(POINT client, LabelTip::Label& label) const;
    LabelTip& Tip() { return tip_; }
    bool HandleNotify(const NMHDR* header, LRESULT& result);

    int SelectedCount() const;
    // The ids of the selected rows in list order, never more than counted.
    std::vector<MESSAGEID> SelectedIds() const;
    // True when a screen point lies on the column headers.
    bool OverHeader(POINT screen) const;
    // The row under a point in the list's client area, or -1.
    int RowAt(POINT client) const;
    int ImageOf(int row) const;
    void SelectAll();
    // The row a keyboard menu belongs to: the focused row when it is
    // selected, else the first selected one; -1 when none is selected.
    int MenuRow() const;
    // Where a keyboard menu opens, in screen co-ordinates: below that row's
    // label, or below the column headers when there is no such row.
    POINT MenuPoint() const;

  private:
    void ShowSortArrow();

    HWND list_ = nullptr;
    message_sort::SortOrder sort_;
    std::unique_ptr<FindBox> find_;
    LabelTip tip_;
    MessageRows rows_;
    bool idsAscending_ = true;
    // Ids of rows a delete of the user's is still to remove, and the row to
    // select then (none: the last row).
    std::unordered_set<MESSAGEID> pendingDelete_;
    std::optional<MESSAGEID> afterDelete_;
};
