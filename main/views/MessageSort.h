// The message list's orders: the store's, or sorted by one column. Ties keep
// the store's order in either direction, so a reversed sort is not simply the
// rows backwards.
#pragma once

#include "main/views/MessageRows.h"

#include <cstddef>
#include <cstdint>
#include <string>
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

// The bytes that order `text` as the user's locale compares texts ignoring
// case (and nothing else, so texts differing only in accents or width stay
// apart), appended to `key`; the code units when the locale cannot.
void AppendSortKey(std::wstring_view text, std::string* key);
// Texts compared by their sort keys. Negative, zero or positive.
int CompareText(std::wstring_view a, std::wstring_view b);

// The rows' slots in their order under `order` (see MessageRows::SetOrder).
std::vector<uint32_t> SortedOrder(const MessageRows& rows, SortOrder order);
// Slots ordered by a number per slot, ties in slot order, either way.
std::vector<uint32_t> OrderByRanks(const std::vector<uint32_t>& ranks, bool descending);

// Where a new row for `slot` goes among rows sorted by `order`, before the
// rows make room for it (see MessageRows::InsertAt).
size_t SortedPlace(const MessageRows& rows, SortOrder order, const MessageRow& row, size_t slot);

// A sort made in steps, so a window goes on answering between them. A text
// column's texts are taken once, then each distinct text's sort key is made
// once, a step at a time; the keys are compared as bytes. Valid while the
// rows keep their slots (MessageRows::Version).
class SortJob {
  public:
    // `rows` must not change before the first step.
    SortJob(const MessageRows& rows, SortOrder order);
    // Works for about `budgetMs` at most (the last step, ordering, as long as
    // it takes); true once the order is ready.
    bool Step(double budgetMs);
    SortOrder Order() const { return order_; }
    uint64_t Version() const { return version_; }
    // Slots in their new order; a text column's ranks (one per slot, equal
    // texts equal), so the other direction needs no keys again.
    std::vector<uint32_t> TakeOrder() { return std::move(result_); }
    std::vector<uint32_t> TakeRanks() { return std::move(ranks_); }

  private:
    void Collect(const MessageRows& rows);
    void SortKeys();
    void Rank();

    // A text column's phases, each a step of its own at least.
    enum class Phase { kCollect, kKeys, kSortKeys, kRank, kDone };

    const MessageRows* rows_ = nullptr; // read only in the first step
    SortOrder order_;
    uint64_t version_ = 0;
    Phase phase_ = Phase::kDone;
    std::vector<uint32_t> result_;
    // A text column: distinct texts as UTF-8 (offset, bytes), the distinct
    // text of each slot, and the keys made so far (offset into keys_).
    std::string texts_;
    std::vector<std::pair<uint32_t, uint32_t>> distinct_;
    std::vector<uint32_t> textOf_;
    std::string keys_;
    std::vector<uint32_t> keyAt_;
    std::vector<uint32_t> sorted_; // distinct texts in key order
    std::vector<uint32_t> ranks_;
};

} // namespace message_sort
