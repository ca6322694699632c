// The message list's orders: the store's, or sorted by one column. Ties keep
// the store's order in either direction, so a reversed sort is not simply the
// rows backwards.
#pragma once

#include "main/views/MessageRows.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace message_sort {

// Columns as the list numbers them.
enum Column : int { kNone = -1, kFrom = 0, kSubject = 1, kReceived = 2, kFlag = 3 };

struct SortOrder {
    int column = kNone;
    bool descending = false;
    bool Active() const { return column != kNone; }
};

// Texts as the user's locale compares them, ignoring case (and nothing else,
// so texts differing only in accents or width stay apart); the code units
// decide when the locale cannot. Negative, zero or positive.
int CompareText(std::wstring_view a, std::wstring_view b);

// The rows' slots in their order under `order` (see MessageRows::SetOrder).
std::vector<uint32_t> SortedOrder(const MessageRows& rows, SortOrder order);

// Where a new row for `slot` goes among rows sorted by `order`, before the
// rows make room for it (see MessageRows::InsertAt).
size_t SortedPlace(const MessageRows& rows, SortOrder order, const MessageRow& row, size_t slot);

} // namespace message_sort
