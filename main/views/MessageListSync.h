// An owner-data report list view kept in step with the MessageRows it shows.
// Rows change only through these functions, which keep the view's item count,
// selection and focus where a plain list view would keep them; MessageListView
// is the window's list built on them.
#pragma once

#include "main/views/LocalTime.h"
#include "main/views/MessageRows.h"
#include "storeui/StoreEnum.h"
#include "store/StoreApi.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <vector>

namespace list_sync {

// Column captions, widths and alignment, the header image of column 4, the
// row images and the extended styles. `list` must have LVS_OWNERDATA.
void SetUpColumns(HWND list, HIMAGELIST images);

// A row in the list's format from a record the store filled.
MessageRow RowFromProps(const MESSAGEPROPS& props, const localtime_text::LocalTimeZone& zone);
MessageRow RowFromProps(const MESSAGEPROPS& props);
// The same with the record's texts as they are: valid while the record is.
StoreRow StoreRowFromProps(const MESSAGEPROPS& props, const localtime_text::LocalTimeZone& zone);

// Appends a row for every message the folder enumerates, in its order, and
// hands every record back.
void AppendFolder(HWND list, MessageRows& rows, IStoreFolder* folder);

// Empties the rows and the view.
void Clear(HWND list, MessageRows& rows);
// Tells the view about rows appended since the last call.
void ShowAppended(HWND list, const MessageRows& rows);
// Inserts a row at `index` (Count() appends); the selection, focus and mark
// below it move down as in a plain list view. The view learns of it at Flush.
void InsertRow(HWND list, MessageRows& rows, size_t index, MessageRow row);
// InsertRow for a row with its own slot (see MessageRows::InsertAt).
void InsertAt(HWND list, MessageRows& rows, size_t index, size_t slot, MessageRow row);
// Shows the rows in a new order (see MessageRows::SetOrder) at once; the
// selection, focus and mark go with their rows.
void Reorder(HWND list, MessageRows& rows, std::vector<uint32_t> slots);
// Deletes the row at `index`; the selection, focus and mark below it move up.
// The view learns of it at Flush.
void DeleteRow(HWND list, MessageRows& rows, size_t index);
// Brings the view's item count, selection, focus and mark up to date with the
// rows inserted and deleted since the last call, at once.
void Flush(HWND list, MessageRows& rows);
// Makes the list flush pending changes before it handles any message, so
// whoever asks the view anything (a paint, a click, a selection query) finds
// it up to date, while a burst of changes costs the view one update.
void KeepInSync(HWND list, MessageRows& rows);
// Row images; the view repaints when it next paints (needs KeepInSync).
void SetRowImage(HWND list, MessageRows& rows, size_t index, int image);
void SetAllRowImages(HWND list, MessageRows& rows, int image);

// Answers the owner-data list's questions (LVN_GETDISPINFO, LVN_ODFINDITEM,
// LVN_ODCACHEHINT, LVN_ODSTATECHANGED). False for any other notification.
bool HandleNotify(const MessageRows& rows, const NMHDR* header, LRESULT& result);

} // namespace list_sync
