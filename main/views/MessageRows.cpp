#include "main/views/MessageRows.h"

#include "main/views/LocalTime.h"
#include "ui/Text.h"

#include <algorithm>

namespace {
// Rows per block when appending; a block that grows to twice this splits.
constexpr size_t kBlockRows = 512;

void AppendUtf8(const std::wstring& text, std::string* out) {
    bool ascii = true;
    for (wchar_t c : text)
        ascii = ascii && c < 0x80;
    if (ascii) {
        for (wchar_t c : text)
            out->push_back(static_cast<char>(c));
        return;
    }
    const int units = static_cast<int>(text.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
    const size_t at = out->size();
    out->resize(at + static_cast<size_t>(bytes > 0 ? bytes : 0));
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), units, out->data() + at, bytes, nullptr,
                            nullptr);
}

// Text in the system code page: bytes below 0x80 are the same in UTF-8.
void AppendCodePageAsUtf8(std::string_view text, std::string* out) {
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        out->append(text);
        return;
    }
    AppendUtf8(ui::FromAnsi(text), out);
}

// Fixed calendar fields in 55 bits: year 16, month 4, weekday 3, day 5, hour 5,
// minute 6, second 6, milliseconds 10.
uint64_t PackFields(const SYSTEMTIME& t) {
    uint64_t v = t.wYear;
    v = v << 4 | (t.wMonth & 0xF);
    v = v << 3 | (t.wDayOfWeek & 0x7);
    v = v << 5 | (t.wDay & 0x1F);
    v = v << 5 | (t.wHour & 0x1F);
    v = v << 6 | (t.wMinute & 0x3F);
    v = v << 6 | (t.wSecond & 0x3F);
    return v << 10 | (t.wMilliseconds & 0x3FF);
}

SYSTEMTIME UnpackFields(uint64_t v) {
    SYSTEMTIME t{};
    t.wMilliseconds = static_cast<WORD>(v & 0x3FF);
    t.wSecond = static_cast<WORD>(v >> 10 & 0x3F);
    t.wMinute = static_cast<WORD>(v >> 16 & 0x3F);
    t.wHour = static_cast<WORD>(v >> 22 & 0x1F);
    t.wDay = static_cast<WORD>(v >> 27 & 0x1F);
    t.wDayOfWeek = static_cast<WORD>(v >> 32 & 0x7);
    t.wMonth = static_cast<WORD>(v >> 35 & 0xF);
    t.wYear = static_cast<WORD>(v >> 39 & 0xFFFF);
    return t;
}

uint64_t FixedKey(const SYSTEMTIME& fields) {
    FILETIME file{};
    if (!SystemTimeToFileTime(&fields, &file))
        return 0; // the zero date lies before what file times hold
    return uint64_t{file.dwHighDateTime} << 32 | file.dwLowDateTime;
}

} // namespace

uint64_t ReceivedKeyOf(const localtime_text::StoreTime& time) {
    return time.fixed ? FixedKey(time.fields) : time.local;
}

std::wstring MessageRow::Received() const {
    return localtime_text::DateTimeText(localtime_text::Fields(received));
}

template <typename Row, typename AppendText>
MessageRows::Entry MessageRows::MakeEntry(const Row& row, Block& block, AppendText append) {
    Entry e;
    e.id = row.id;
    e.image = static_cast<uint8_t>(row.image);
    e.flagged = row.flagged;
    e.fixedTime = row.received.fixed;
    const uint64_t time = row.received.fixed ? PackFields(row.received.fields) : row.received.local;
    e.timeLow = static_cast<uint32_t>(time);
    e.timeHigh = static_cast<uint32_t>(time >> 32);
    const size_t at = block.text.size();
    append(row.from, &block.text);
    const size_t between = block.text.size();
    append(row.subject, &block.text);
    e.text = static_cast<uint32_t>(at);
    e.fromBytes = static_cast<uint32_t>(between - at);
    e.subjectBytes = static_cast<uint32_t>(block.text.size() - between);
    return e;
}

// Drops the texts of erased rows once they are as many bytes as the live ones.
void MessageRows::Pack(Block& block) {
    if (block.unusedBytes == 0 || block.unusedBytes * 2 < block.text.size())
        return;
    std::string packed;
    packed.reserve(block.text.size() - block.unusedBytes);
    for (Entry& e : block.rows) {
        const size_t at = packed.size();
        packed.append(block.text, e.text, e.fromBytes + e.subjectBytes);
        e.text = static_cast<uint32_t>(at);
    }
    block.text.swap(packed);
    block.text.shrink_to_fit();
    block.unusedBytes = 0;
}

void MessageRows::Clear() {
    blocks_.clear();
    count_ = 0;
    startsValidTo_ = 0;
    index_.clear();
    indexBuilt_ = false;
    order_.clear();
    shownOf_.clear();
    dead_ = 0;
    liveShown_.Clear();
    liveSlots_.Clear();
    goneSlot_.clear();
    ++version_;
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

const MessageRows::Entry& MessageRows::EntryAt(size_t index) const {
    auto [block, offset] = Locate(Slot(index));
    return block->rows[offset];
}

MESSAGEID MessageRows::Id(size_t index) const {
    return EntryAt(index).id;
}

int MessageRows::Image(size_t index) const {
    return EntryAt(index).image;
}

bool MessageRows::Flagged(size_t index) const {
    return EntryAt(index).flagged;
}

std::string_view MessageRows::Text(size_t index, int column) const {
    auto [block, offset] = Locate(Slot(index));
    const Entry& e = block->rows[offset];
    std::string_view both(block->text.data() + e.text, e.fromBytes + e.subjectBytes);
    return column == 0 ? both.substr(0, e.fromBytes) : both.substr(e.fromBytes);
}

std::wstring MessageRows::From(size_t index) const {
    return ui::FromUtf8(Text(index, 0));
}

std::wstring MessageRows::Subject(size_t index) const {
    return ui::FromUtf8(Text(index, 1));
}

std::wstring MessageRows::ReceivedText(size_t index) const {
    const Entry& e = EntryAt(index);
    const uint64_t time = uint64_t{e.timeHigh} << 32 | e.timeLow;
    localtime_text::StoreTime received;
    received.fixed = e.fixedTime;
    if (e.fixedTime)
        received.fields = UnpackFields(time);
    else
        received.local = time;
    return localtime_text::DateTimeText(localtime_text::Fields(received));
}

MessageRow MessageRows::At(size_t index) const {
    auto [block, offset] = Locate(Slot(index));
    const Entry& e = block->rows[offset];
    MessageRow row;
    row.id = e.id;
    row.image = e.image;
    row.flagged = e.flagged;
    row.from = ui::FromUtf8(Text(index, 0));
    row.subject = ui::FromUtf8(Text(index, 1));
    const uint64_t time = uint64_t{e.timeHigh} << 32 | e.timeLow;
    row.received.fixed = e.fixedTime;
    if (e.fixedTime)
        row.received.fields = UnpackFields(time);
    else
        row.received.local = time;
    return row;
}

MessageRows::Block& MessageRows::AppendTarget(MESSAGEID id) {
    if (blocks_.empty() || blocks_.back()->rows.size() >= kBlockRows) {
        auto block = std::make_unique<Block>();
        block->rows.reserve(kBlockRows);
        block->ordinal = blocks_.size();
        blocks_.push_back(std::move(block));
        MarkStartsFrom(blocks_.size() - 1);
    }
    Block* block = blocks_.back().get();
    if (indexBuilt_)
        IndexAdd(id, block);
    return *block;
}

void MessageRows::Appended(Block& block) {
    if (block.rows.size() == kBlockRows)
        block.text.shrink_to_fit(); // full: no more appends to make room for
    ++count_;
    ++version_;
}

void MessageRows::Append(const MessageRow& row) {
    if (!order_.empty()) {
        InsertAt(count_, count_, row);
        return;
    }
    AppendSlot(row);
}

void MessageRows::AppendSlot(const MessageRow& row) {
    Block& block = AppendTarget(row.id);
    block.rows.push_back(MakeEntry(row, block, AppendUtf8));
    Appended(block);
}

void MessageRows::Append(const StoreRow& row) {
    if (!order_.empty()) // a fill starts from an empty, unordered list
        return;
    Block& block = AppendTarget(row.id);
    block.rows.push_back(MakeEntry(row, block, AppendCodePageAsUtf8));
    Appended(block);
}

void MessageRows::Insert(size_t index, const MessageRow& row) {
    // Shown in the store's order, a row's place is its slot; else a row put
    // in without one comes last in the store's order.
    InsertAt(index, order_.empty() ? index : count_, row);
}

void MessageRows::InsertAt(size_t index, size_t slot, const MessageRow& row) {
    CloseGaps();
    slot = std::min(slot, count_);
    InsertSlot(slot, row);
    if (order_.empty())
        return;
    for (uint32_t& shown : order_)
        if (shown >= slot)
            ++shown;
    order_.insert(order_.begin() + static_cast<std::ptrdiff_t>(std::min(index, order_.size())),
                  static_cast<uint32_t>(slot));
    RefreshShown();
}

void MessageRows::InsertSlot(size_t index, const MessageRow& row) {
    if (index >= count_) {
        AppendSlot(row);
        return;
    }
    auto [block, offset] = Locate(index);
    if (indexBuilt_)
        IndexAdd(row.id, block);
    block->rows.insert(block->rows.begin() + static_cast<std::ptrdiff_t>(offset),
                       MakeEntry(row, *block, AppendUtf8));
    ++count_;
    ++version_;
    MarkStartsFrom(block->ordinal + 1);
    SplitIfFull(block);
}

void MessageRows::SplitIfFull(Block* block) {
    if (block->rows.size() < 2 * kBlockRows)
        return;
    auto tail = std::make_unique<Block>();
    auto middle = block->rows.begin() + static_cast<std::ptrdiff_t>(kBlockRows);
    tail->rows.assign(middle, block->rows.end());
    block->rows.erase(middle, block->rows.end());
    // The tail takes a copy of the texts and keeps only its own; the head's
    // copies of them become unused.
    size_t moved = 0;
    for (const Entry& e : tail->rows)
        moved += e.fromBytes + e.subjectBytes;
    tail->text = block->text;
    tail->unusedBytes = tail->text.size() - moved;
    block->unusedBytes += moved;
    Pack(*block);
    Pack(*tail);
    if (indexBuilt_)
        for (const Entry& e : tail->rows)
            IndexMove(e.id, block, tail.get());
    size_t ordinal = block->ordinal + 1;
    blocks_.insert(blocks_.begin() + static_cast<std::ptrdiff_t>(ordinal), std::move(tail));
    Renumber(ordinal);
    MarkStartsFrom(ordinal);
}

void MessageRows::Erase(size_t index) {
    if (order_.empty())
        EraseSlot(index);
    else
        EraseShown(index);
}

void MessageRows::EraseShown(size_t index) {
    if (dead_ == 0) {
        liveShown_.Reset(order_.size());
        liveSlots_.Reset(order_.size());
        goneSlot_.assign(order_.size(), false);
    }
    const size_t place = dead_ == 0 ? index : liveShown_.Find(index);
    const uint32_t was = order_[place];
    EraseSlot(liveSlots_.Below(was));
    liveShown_.Remove(place);
    liveSlots_.Remove(was);
    goneSlot_[was] = true;
    ++dead_;
    if (count_ == 0)
        CloseGaps();
}

size_t MessageRows::SlotPastGaps(size_t index) const {
    return liveSlots_.Below(order_[liveShown_.Find(index)]);
}

void MessageRows::CloseGaps() {
    if (dead_ == 0)
        return;
    std::vector<uint32_t> slotNow(goneSlot_.size());
    uint32_t next = 0;
    for (size_t was = 0; was < goneSlot_.size(); ++was)
        if (!goneSlot_[was])
            slotNow[was] = next++;
    std::vector<uint32_t> order;
    order.reserve(count_);
    for (uint32_t was : order_)
        if (!goneSlot_[was])
            order.push_back(slotNow[was]);
    order_.swap(order);
    dead_ = 0;
    liveShown_.Clear();
    liveSlots_.Clear();
    goneSlot_.clear();
    RefreshShown();
}

void MessageRows::EraseSlot(size_t index) {
    auto [block, offset] = Locate(index);
    if (indexBuilt_)
        IndexRemove(block->rows[offset].id, block);
    const Entry& gone = block->rows[offset];
    block->unusedBytes += gone.fromBytes + gone.subjectBytes;
    block->rows.erase(block->rows.begin() + static_cast<std::ptrdiff_t>(offset));
    --count_;
    ++version_;
    size_t ordinal = block->ordinal;
    if (block->rows.empty()) {
        blocks_.erase(blocks_.begin() + static_cast<std::ptrdiff_t>(ordinal));
        Renumber(ordinal);
        MarkStartsFrom(ordinal);
    } else {
        Pack(*block);
        MarkStartsFrom(ordinal + 1);
    }
}

void MessageRows::SetImage(size_t index, int image) {
    auto [block, offset] = Locate(Slot(index));
    block->rows[offset].image = static_cast<uint8_t>(image);
}

void MessageRows::SetAllImages(int image) {
    for (auto& block : blocks_)
        for (Entry& row : block->rows)
            row.image = static_cast<uint8_t>(image);
}

void MessageRows::SetSelected(size_t index, bool selected) {
    auto [block, offset] = Locate(Slot(index));
    block->rows[offset].selected = selected;
}

std::vector<int> MessageRows::TakeSelected() {
    CloseGaps();
    std::vector<int> selected;
    size_t slot = 0;
    for (auto& block : blocks_)
        for (Entry& row : block->rows) {
            if (row.selected)
                selected.push_back(static_cast<int>(order_.empty() ? slot : shownOf_[slot]));
            row.selected = false;
            ++slot;
        }
    if (!order_.empty())
        std::sort(selected.begin(), selected.end());
    return selected;
}

void MessageRows::ClearSelected() noexcept {
    for (auto& block : blocks_)
        for (Entry& row : block->rows)
            row.selected = false;
}

void MessageRows::BuildIndex() const {
    index_.clear();
    index_.reserve(count_);
    for (const auto& block : blocks_)
        for (const Entry& row : block->rows)
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
    if (!order_.empty())
        return FindShownFrom(id, start);
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

std::ptrdiff_t MessageRows::FindShownFrom(MESSAGEID id, size_t start) const {
    std::ptrdiff_t best = -1;
    const Block* last = nullptr;
    auto [first, end] = index_.equal_range(id);
    for (auto it = first; it != end; ++it) {
        const Block& block = *it->second;
        if (&block == last)
            continue; // one entry per row: the block's rows are all looked at already
        last = &block;
        for (size_t i = 0; i < block.rows.size(); ++i) {
            if (block.rows[i].id != id)
                continue;
            const size_t shown = ShownOf(block.start + i);
            if (shown >= start && (best < 0 || shown < static_cast<size_t>(best)))
                best = static_cast<std::ptrdiff_t>(shown);
        }
    }
    return best;
}

void MessageRows::SetOrder(std::vector<uint32_t> slots) {
    if (slots.size() != count_)
        return;
    CloseGaps();
    order_ = std::move(slots);
    RefreshShown();
}

void MessageRows::RefreshShown() {
    shownOf_.resize(order_.size());
    for (size_t i = 0; i < order_.size(); ++i)
        shownOf_[order_[i]] = static_cast<uint32_t>(i);
}

size_t MessageRows::ShownOf(size_t slot) const {
    if (order_.empty())
        return slot;
    if (dead_ == 0)
        return shownOf_[slot];
    return liveShown_.Below(shownOf_[liveSlots_.Find(slot)]);
}

uint64_t MessageRows::ReceivedKey(size_t index) const {
    const Entry& e = EntryAt(index);
    const uint64_t time = uint64_t{e.timeHigh} << 32 | e.timeLow;
    return e.fixedTime ? FixedKey(UnpackFields(time)) : time;
}

std::vector<uint64_t> MessageRows::ReceivedKeys() const {
    std::vector<uint64_t> keys;
    keys.reserve(count_);
    for (const auto& block : blocks_)
        for (const Entry& e : block->rows) {
            const uint64_t time = uint64_t{e.timeHigh} << 32 | e.timeLow;
            keys.push_back(e.fixedTime ? FixedKey(UnpackFields(time)) : time);
        }
    return keys;
}

std::vector<std::wstring> MessageRows::Texts(int column) const {
    std::vector<std::wstring> texts;
    texts.reserve(count_);
    for (const auto& block : blocks_)
        for (const Entry& e : block->rows) {
            const char* at = block->text.data() + e.text;
            texts.push_back(column == 0 ? ui::FromUtf8({at, e.fromBytes})
                                        : ui::FromUtf8({at + e.fromBytes, e.subjectBytes}));
        }
    return texts;
}

std::vector<std::string_view> MessageRows::TextViews(int column) const {
    std::vector<std::string_view> texts;
    texts.reserve(count_);
    for (const auto& block : blocks_)
        for (const Entry& e : block->rows) {
            const char* at = block->text.data() + e.text;
            texts.push_back(column == 0 ? std::string_view(at, e.fromBytes)
                                        : std::string_view(at + e.fromBytes, e.subjectBytes));
        }
    return texts;
}

std::vector<uint8_t> MessageRows::Flags() const {
    std::vector<uint8_t> flags;
    flags.reserve(count_);
    for (const auto& block : blocks_)
        for (const Entry& e : block->rows)
            flags.push_back(e.flagged ? 1 : 0);
    return flags;
}
