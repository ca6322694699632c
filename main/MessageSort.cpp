#include "MessageSort.h"

#include <windows.h>

#include <algorithm>
#include <numeric>

namespace message_sort {

namespace {

template <typename Key> int CompareValues(const Key& a, const Key& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Sorts row numbers by (key, rank); ranks are unique, so any sort gives the
// one result a stable sort of the store's order would.
template <typename Key, typename Compare>
std::vector<uint32_t> OrderBy(const std::vector<Key>& keys, const std::vector<uint32_t>& ranks,
                              bool descending, Compare compare) {
    std::vector<uint32_t> order(keys.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int c = compare(keys[a], keys[b]);
        if (c != 0)
            return descending ? c > 0 : c < 0;
        return ranks[a] < ranks[b];
    });
    return order;
}

int CompareTexts(const std::wstring& a, const std::wstring& b) {
    return CompareText(a, b);
}

// Flagged rows first.
uint8_t FlagKey(bool flagged) {
    return flagged ? 0 : 1;
}

// The new row against row `index`: negative when it goes before.
int CompareWithRow(const MessageRows& rows, SortOrder order, const MessageRow& row, size_t index) {
    switch (order.column) {
    case kFrom:
        return CompareText(row.from, rows.From(index));
    case kSubject:
        return CompareText(row.subject, rows.Subject(index));
    case kReceived:
        return CompareValues(ReceivedKeyOf(row.received), rows.ReceivedKey(index));
    case kFlag:
        return CompareValues(FlagKey(row.flagged), FlagKey(rows.Flagged(index)));
    default:
        return 0;
    }
}

} // namespace

int CompareText(std::wstring_view a, std::wstring_view b) {
    const int result = CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.data(),
                                       static_cast<int>(a.size()), b.data(),
                                       static_cast<int>(b.size()), nullptr, nullptr, 0);
    if (result != 0)
        return result - CSTR_EQUAL;
    return a.compare(b);
}

std::vector<uint32_t> SortedOrder(const MessageRows& rows, SortOrder order) {
    const std::vector<uint32_t> ranks = rows.Ranks();
    switch (order.column) {
    case kFrom:
    case kSubject:
        return OrderBy(rows.Texts(order.column), ranks, order.descending, CompareTexts);
    case kReceived:
        return OrderBy(rows.ReceivedKeys(), ranks, order.descending, CompareValues<uint64_t>);
    case kFlag: {
        std::vector<uint8_t> flags(rows.Count());
        for (size_t i = 0; i < flags.size(); ++i)
            flags[i] = FlagKey(rows.Flagged(i));
        return OrderBy(flags, ranks, order.descending, CompareValues<uint8_t>);
    }
    default: {
        // The store's order back.
        std::vector<uint32_t> all(ranks.size());
        std::iota(all.begin(), all.end(), 0u);
        std::sort(all.begin(), all.end(),
                  [&](uint32_t a, uint32_t b) { return ranks[a] < ranks[b]; });
        return all;
    }
    }
}

size_t SortedPlace(const MessageRows& rows, SortOrder order, const MessageRow& row, uint32_t rank) {
    size_t low = 0, high = rows.Count();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        int c = CompareWithRow(rows, order, row, middle);
        if (order.descending)
            c = -c;
        if (c == 0)
            c = rank <= rows.Rank(middle) ? -1 : 1; // that row moves on a place
        if (c < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

} // namespace message_sort
