#include "MessageRows.h"

#include "LocalTime.h"

#include <algorithm>

namespace {
// Rows per block when appending; a block that grows to twice this splits.
constexpr size_t kBlockRows = 512;
} // namespace

const std::wstring& MessageRow::Received() const {
    if (!formatted_) {
        received_ = localtime_text::DateTimeText(localtime_text::Fields(received));
        formatted_ = true;
    }
    return received_;
}

void MessageRows::Clear() {
    blocks_.clear();
    count_ = 0;
    startsValidTo_ = 0;
    index_.clear();
    indexBuilt_ = false;
    bool repaintAsked = pending_.repaintAsked;
    pending_ = PendingView();
    pending_.repaintAsked = repaintAsked;
}

void MessageRows::RefreshStarts() const {
    if (startsValidTo_ >= blocks_.size())
        return;
    size_t start = 0;
    if (startsValidTo_ > 0) {
        const Block& last = *blocks_[startsValidTo_ - 1];
        start = last.start + last.rows.size();
    }
    for (size_t i = startsValidTo_; i < blocks_.size(); ++i) {
        blocks_[i]->start = start;
        start += blocks_[i]->rows.size();
    }
    startsValidTo_ = blocks_.size();
}

void MessageRows::MarkStartsFrom(size_t ordinal) const {
    startsValidTo_ = std::min(startsValidTo_, ordinal);
}

void MessageRows::Renumber(size_t fromOrdinal) {
    for (size_t i = fromOrdinal; i < blocks_.size(); ++i)
        blocks_[i]->ordinal = i;
}

std::pair<MessageRows::Block*, size_t> MessageRows::Locate(size_t index) const {
    RefreshStarts();
    auto it = std::upper_bound(
        blocks_.begin(), blocks_.end(), index,
        [](size_t value, const std::unique_ptr<Block>& block) { return value < block->start; });
    Block* block = (it - 1)->get();
    return {block, index - block->start};
}

const MessageRow& MessageRows::At(size_t index) const {
    auto [block, offset] = Locate(index);
    return block->rows[offset];
}

void MessageRows::Append(MessageRow row) {
    if (blocks_.empty() || blocks_.back()->rows.size() >= kBlockRows) {
        auto block = std::make_unique<Block>();
        block->rows.reserve(kBlockRows);
        block->ordinal = blocks_.size();
        blocks_.push_back(std::move(block));
        MarkStartsFrom(blocks_.size() - 1);
    }
    Block* block = blocks_.back().get();
    if (indexBuilt_)
        IndexAdd(row.id, block);
    block->rows.push_back(std::move(row));
    ++count_;
}

void MessageRows::Insert(size_t index, MessageRow row) {
    if (index >= count_) {
        Append(std::move(row));
        return;
    }
    auto [block, offset] = Locate(index);
    if (indexBuilt_)
        IndexAdd(row.id, block);
    block->rows.insert(block->rows.begin() + static_cast<std::ptrdiff_t>(offset), std::move(row));
    ++count_;
    MarkStartsFrom(block->ordinal + 1);
    SplitIfFull(block);
}

void MessageRows::SplitIfFull(Block* block) {
    if (block->rows.size() < 2 * kBlockRows)
        return;
    auto tail = std::make_unique<Block>();
    auto middle = block->rows.begin() + static_cast<std::ptrdiff_t>(kBlockRows);
    tail->rows.assign(std::make_move_iterator(middle), std::make_move_iterator(block->rows.end()));
    block->rows.erase(middle, block->rows.end());
    if (indexBuilt_)
        for (const MessageRow& moved : tail->rows)
            IndexMove(moved.id, block, tail.get());
    size_t ordinal = block->ordinal + 1;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(ordinal), std::move(tail));
    Renumber(ordinal);
    MarkStartsFrom(ordinal);
}

void MessageRows::Erase(size_t index) {
    auto [block, offset] = Locate(index);
    if (indexBuilt_)
        IndexRemove(block->rows[offset].id, block);
    block->rows.erase(block->rows.begin() + static_cast<std::ptrdiff_t>(offset));
    --count_;
    size_t ordinal = block->ordinal;
    if (block->rows.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(ordinal));
        Renumber(ordinal);
        MarkStartsFrom(ordinal);
    } else {
        MarkStartsFrom(ordinal + 1);
    }
}

void MessageRows::SetImage(size_t index, int image) {
    auto [block, offset] = Locate(index);
    block->rows[offset].image = image;
}

void MessageRows::SetAllImages(int image) {
    for (auto& block : blocks_)
        for (MessageRow& row : block->rows)
            row.image = image;
}

void MessageRows::BuildIndex() const {
    index_.clear();
    index_.reserve(count_);
    for (const auto& block : blocks_)
        for (const MessageRow& row : block->rows)
            index_.emplace(row.id, block.get());
    indexBuilt_ = true;
}

void MessageRows::IndexAdd(MESSAGEID id, Block* block) const {
    index_.emplace(id, block);
}

void MessageRows::IndexRemove(MESSAGEID id, Block* block) const {
    auto [first, last] = index_.equal_range(id);
    for (auto it = first; it != last; ++it)
        if (it->second == block) {
            index_.erase(it);
            return;
        }
}

void MessageRows::IndexMove(MESSAGEID id, Block* from, Block* to) const {
    auto [first, last] = index_.equal_range(id);
    for (auto it = first; it != last; ++it)
        if (it->second == from) {
            it->second = to;
            return;
        }
}

std::ptrdiff_t MessageRows::FindFirst(MESSAGEID id) const {
    return FindFrom(id, 0);
}

std::ptrdiff_t MessageRows::FindFrom(MESSAGEID id, size_t start) const {
    if (start >= count_)
        return -1;
    if (!indexBuilt_)
        BuildIndex();
    RefreshStarts();
    std::ptrdiff_t best = -1;
    auto [first, last] = index_.equal_range(id);
    for (auto it = first; it != last; ++it) {
        const Block& block = *it->second;
        size_t end = block.start + block.rows.size();
        if (end <= start)
            continue;
        size_t from = start > block.start ? start - block.start : 0;
        if (best >= 0 && block.start + from >= static_cast<size_t>(best))
            continue;
        for (size_t i = from; i < block.rows.size(); ++i)
            if (block.rows[i].id == id) {
                best = static_cast<std::ptrdiff_t>(block.start + i);
                break;
            }
    }
    return best;
}
