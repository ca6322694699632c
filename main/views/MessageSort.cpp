#include "main/views/MessageSort.h"
#include "ui/Text.h"
#include "ui/Clock.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
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

int CompareBytes(std::string_view a, std::string_view b) {
    const int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (c != 0)
        return c;
    return CompareValues(a.size(), b.size());
}

std::string SortKey(std::wstring_view text) {
    std::string key;
    AppendSortKey(text, &key);
    return key;
}

// Flagged rows first.
uint8_t FlagKey(bool flagged) {
    return flagged ? 0 : 1;
}

// The new row against row `index`: negative when it goes before. `key` is the
// new row's sort key for a text column.
int CompareWithRow(const MessageRows& rows, SortOrder order, const MessageRow& row,
                   const std::string& key, size_t index) {
    switch (order.column) {
    case kFrom:
    case kSubject:
        return CompareBytes(key, SortKey(ui::FromUtf8(rows.Text(index, order.column))));
    case kReceived:
        return CompareValues(ReceivedKeyOf(row.received), rows.ReceivedKey(index));
    case kFlag:
        return CompareValues(FlagKey(row.flagged), FlagKey(rows.Flagged(index)));
    default:
        return 0;
    }
}

} // namespace

void AppendSortKey(std::wstring_view text, std::string* key) {
    const size_t at = key->size();
    if (!text.empty()) {
        const auto units = static_cast<int>(text.size());
        // A key is rarely longer than a few bytes per unit; ask again when it is.
        int room = units * 6 + 16;
        key->resize(at + static_cast<size_t>(room));
        int made = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE,
                                 text.data(), units, reinterpret_cast<LPWSTR>(key->data() + at),
                                 room, nullptr, nullptr, 0);
        if (made == 0 && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            room = LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_SORTKEY | NORM_IGNORECASE,
                                 text.data(), units, nullptr, 0, nullptr, nullptr, 0);
            key->resize(at + static_cast<size_t>(room > 0 ? room : 0));
            made = room > 0 ? LCMapStringEx(LOCALE_NAME_USER_DEFAULT,
                                            LCMAP_SORTKEY | NORM_IGNORECASE, text.data(), units,
                                            reinterpret_cast<LPWSTR>(key->data() + at), room,
                                            nullptr, nullptr, 0)
                            : 0;
        }
        if (made > 0) {
            // The key ends in a zero byte that orders nothing.
            key->resize(at + static_cast<size_t>(made) - 1);
            return;
        }
    }
    // The locale could not: the code units, high byte first, after every key.
    key->resize(at);
    if (text.empty())
        return;
    key->push_back('\xff');
    for (wchar_t unit : text) {
        key->push_back(static_cast<char>(unit >> 8));
        key->push_back(static_cast<char>(unit & 0xFF));
    }
}

int CompareText(std::wstring_view a, std::wstring_view b) {
    return CompareBytes(SortKey(a), SortKey(b));
}

std::vector<uint32_t> OrderByRanks(const std::vector<uint32_t>& ranks, bool descending) {
    return OrderBy(ranks, descending);
}

std::vector<uint32_t> SortedOrder(const MessageRows& rows, SortOrder order) {
    SortJob job(rows, order);
    while (!job.Step(1e9)) {
    }
    return job.TakeOrder();
}

SortJob::SortJob(const MessageRows& rows, SortOrder order)
    : rows_(&rows), order_(order), version_(rows.Version()) {
    switch (order.column) {
    case kFrom:
    case kSubject:
        phase_ = Phase::kCollect;
        break;
    case kReceived:
        result_ = OrderBy(rows.ReceivedKeys(), order.descending);
        break;
    case kFlag: {
        // Two keys: flagged slots, then the others (or the other way round).
        const std::vector<uint8_t> flags = rows.Flags();
        result_.reserve(flags.size());
        for (uint8_t first : {uint8_t{1}, uint8_t{0}}) {
            const uint8_t wanted = order.descending ? static_cast<uint8_t>(1 - first) : first;
            for (size_t i = 0; i < flags.size(); ++i)
                if (flags[i] == wanted)
                    result_.push_back(static_cast<uint32_t>(i));
        }
        break;
    }
    default:
        result_.resize(rows.Count());
        std::iota(result_.begin(), result_.end(), 0u);
        break;
    }
}

void SortJob::Collect(const MessageRows& rows) {
    // Each distinct text once: a folder's senders repeat.
    const std::vector<std::string_view> texts = rows.TextViews(order_.column);
    std::unordered_map<std::string_view, uint32_t> ids;
    ids.reserve(texts.size());
    textOf_.resize(texts.size());
    size_t bytes = 0;
    for (std::string_view text : texts)
        bytes += text.size();
    texts_.reserve(bytes);
    for (size_t i = 0; i < texts.size(); ++i) {
        auto [it, added] = ids.emplace(texts[i], static_cast<uint32_t>(distinct_.size()));
        if (added) {
            distinct_.emplace_back(static_cast<uint32_t>(texts_.size()),
                                   static_cast<uint32_t>(texts[i].size()));
            texts_.append(texts[i]);
        }
        textOf_[i] = it->second;
    }
    keyAt_.reserve(distinct_.size() + 1);
    keyAt_.push_back(0);
}

bool SortJob::Step(double budgetMs) {
    const double until = ui::NowMs() + budgetMs;
    switch (phase_) {
    case Phase::kCollect:
        Collect(*rows_);
        rows_ = nullptr;
        phase_ = Phase::kKeys;
        return false;
    case Phase::kKeys: {
        std::wstring wide;
        while (keyAt_.size() <= distinct_.size()) {
            const auto [at, bytes] = distinct_[keyAt_.size() - 1];
            wide = ui::FromUtf8(std::string_view(texts_).substr(at, bytes));
            AppendSortKey(wide, &keys_);
            keyAt_.push_back(static_cast<uint32_t>(keys_.size()));
            // The clock is asked every few keys: each key costs microseconds.
            if (keyAt_.size() % 64 == 0 && ui::NowMs() >= until)
                return false;
        }
        texts_.clear();
        texts_.shrink_to_fit();
        phase_ = Phase::kSortKeys;
        return false;
    }
    case Phase::kSortKeys:
        SortKeys();
        phase_ = Phase::kRank;
        return false;
    case Phase::kRank:
        Rank();
        phase_ = Phase::kDone;
        return true;
    case Phase::kDone:
    default:
        return true;
    }
}

void SortJob::SortKeys() {
    auto key = [this](uint32_t text) {
        return std::string_view(keys_).substr(keyAt_[text], keyAt_[text + 1] - keyAt_[text]);
    };
    // Each key's first eight bytes as a number decide most comparisons without
    // reaching into the keys.
    std::vector<std::pair<uint64_t, uint32_t>> byPrefix(distinct_.size());
    for (uint32_t text = 0; text < distinct_.size(); ++text) {
        const std::string_view bytes = key(text);
        uint64_t prefix = 0;
        for (size_t i = 0; i < 8; ++i)
            prefix = prefix << 8 | (i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0u);
        byPrefix[text] = {prefix, text};
    }
    std::sort(byPrefix.begin(), byPrefix.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first)
            return a.first < b.first;
        return CompareBytes(key(a.second), key(b.second)) < 0;
    });
    sorted_.resize(byPrefix.size());
    for (size_t k = 0; k < byPrefix.size(); ++k)
        sorted_[k] = byPrefix[k].second;
}

void SortJob::Rank() {
    auto key = [this](uint32_t text) {
        return std::string_view(keys_).substr(keyAt_[text], keyAt_[text + 1] - keyAt_[text]);
    };
    // Texts with equal keys compare equal: the same rank.
    std::vector<uint32_t> rankOf(distinct_.size());
    uint32_t rank = 0;
    for (size_t k = 0; k < sorted_.size(); ++k) {
        if (k > 0 && key(sorted_[k - 1]) != key(sorted_[k]))
            ++rank;
        rankOf[sorted_[k]] = rank;
    }
    ranks_.resize(textOf_.size());
    for (size_t i = 0; i < textOf_.size(); ++i)
        ranks_[i] = rankOf[textOf_[i]];
    result_ = OrderBy(ranks_, order_.descending);
    keys_.clear();
    keys_.shrink_to_fit();
    sorted_.clear();
}

size_t SortedPlace(const MessageRows& rows, SortOrder order, const MessageRow& row, size_t slot) {
    std::string key;
    if (order.column == kFrom || order.column == kSubject)
        AppendSortKey(order.column == kFrom ? row.from : row.subject, &key);
    size_t low = 0, high = rows.Count();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        int c = CompareWithRow(rows, order, row, key, middle);
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
