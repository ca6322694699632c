#include "main/views/MessageSort.h"

#include <windows.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <unordered_map>
#include <utility>

namespace message_sort {

namespace {

template <typename Key> int CompareValues(const Key& a, const Key& b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Slots sorted by (key, slot): the store's order among equal keys, either way.
template <typename Key>
std::vector<uint32_t> OrderBy(const std::vector<Key>& keys, bool descending) {
    std::vector<std::pair<Key, uint32_t>> keyed(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        keyed[i] = {keys[i], static_cast<uint32_t>(i)};
    std::sort(keyed.begin(), keyed.end(), [descending](const auto& a, const auto& b) {
        if (a.first != b.first)
            return descending ? b.first < a.first : a.first < b.first;
        return a.second < b.second;
    });
    std::vector<uint32_t> slots(keys.size());
    for (size_t i = 0; i < keyed.size(); ++i)
        slots[i] = keyed[i].second;
    return slots;
}

// Texts as numbers that order as the texts compare: each distinct text is
// compared once in a sort of the distinct texts (a folder's senders repeat),
// and texts that compare equal get the same number.
std::vector<uint32_t> TextRanks(const std::vector<std::wstring>& texts) {
    std::unordered_map<std::wstring_view, uint32_t> ids;
    ids.reserve(texts.size());
    std::vector<std::wstring_view> distinct;
    std::vector<uint32_t> idOf(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        auto [it, added] = ids.emplace(texts[i], static_cast<uint32_t>(distinct.size()));
        if (added)
            distinct.push_back(texts[i]);
        idOf[i] = it->second;
    }
    std::vector<uint32_t> sorted(distinct.size());
    std::iota(sorted.begin(), sorted.end(), 0u);
    std::sort(sorted.begin(), sorted.end(),
              [&](uint32_t a, uint32_t b) { return CompareText(distinct[a], distinct[b]) < 0; });
    std::vector<uint32_t> rankOf(distinct.size());
    uint32_t rank = 0;
    for (size_t k = 0; k < sorted.size(); ++k) {
        if (k > 0 && CompareText(distinct[sorted[k - 1]], distinct[sorted[k]]) != 0)
            ++rank;
        rankOf[sorted[k]] = rank;
    }
    std::vector<uint32_t> ranks(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        ranks[i] = rankOf[idOf[i]];
    return ranks;
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
    switch (order.column) {
    case kFrom:
    case kSubject:
        return OrderBy(TextRanks(rows.Texts(order.column)), order.descending);
    case kReceived:
        return OrderBy(rows.ReceivedKeys(), order.descending);
    case kFlag: {
        // Two keys: flagged slots, then the others (or the other way round).
        const std::vector<uint8_t> flags = rows.Flags();
        std::vector<uint32_t> slots;
        slots.reserve(flags.size());
        for (uint8_t first : {uint8_t{1}, uint8_t{0}}) {
            const uint8_t wanted = order.descending ? static_cast<uint8_t>(1 - first) : first;
            for (size_t i = 0; i < flags.size(); ++i)
                if (flags[i] == wanted)
                    slots.push_back(static_cast<uint32_t>(i));
        }
        return slots;
    }
    default: {
        std::vector<uint32_t> slots(rows.Count());
        std::iota(slots.begin(), slots.end(), 0u);
        return slots;
    }
    }
}

size_t SortedPlace(const MessageRows& rows, SortOrder order, const MessageRow& row, size_t slot) {
    size_t low = 0, high = rows.Count();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        int c = CompareWithRow(rows, order, row, middle);
        if (order.descending)
            c = -c;
        if (c == 0)
            c = slot <= rows.Slot(middle) ? -1 : 1; // that row moves on a slot
        if (c < 0)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

} // namespace message_sort
