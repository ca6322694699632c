// The message list's rows, kept beside an owner-data list view: the view asks
// for what it shows, so filling and emptying stay cheap on big folders.
//
// Rows live in blocks of a few hundred, so inserting or deleting in the middle
// of 100,000 rows moves only one block, and an id index (built on first use)
// finds the first row with an id without walking all rows. A block keeps its
// rows' texts as UTF-8 in one buffer, not a string per cell.
#pragma once

#include "main/views/LiveCount.h"
#include "main/views/LocalTime.h"
#include "store/StoreApi.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

// One row as it goes in and comes out; the rows keep it more compactly.
struct MessageRow {
    MESSAGEID id = 0;                   // the row's data word
    int image = 0;                      // 1 unread, 0 read
    bool flagged = false;               // column 4 shows the flag picture
    std::wstring from;                  // column 1
    std::wstring subject;               // column 2
    localtime_text::StoreTime received; // column 3's value

    // Column 3's text, formatted at each call: only rows on screen need it.
    std::wstring Received() const;
};

// A received time as a number that orders as the times do: local file time
// units; the zero date and times that cannot be placed come first.
uint64_t ReceivedKeyOf(const localtime_text::StoreTime& time);

// A row with its texts as the store hands them over, in the system code page:
// a folder's rows go in without a wide copy of every text on the way.
struct StoreRow {
    MESSAGEID id = 0;
    int image = 0;
    bool flagged = false;
    std::string_view from;
    std::string_view subject;
    localtime_text::StoreTime received;
};

class MessageRows {
  public:
    MessageRows() = default;
    MessageRows(const MessageRows&) = delete;
    MessageRows& operator=(const MessageRows&) = delete;

    size_t Count() const { return count_; }
    // The whole row, texts widened.
    MessageRow At(size_t index) const;
    MESSAGEID Id(size_t index) const;
    std::wstring From(size_t index) const;
    std::wstring Subject(size_t index) const;
    // Column 3's text, formatted now.
    std::wstring ReceivedText(size_t index) const;
    int Image(size_t index) const;
    bool Flagged(size_t index) const;

    void Clear();
    void Append(const MessageRow& row);
    void Append(const StoreRow& row);
    void Insert(size_t index, const MessageRow& row);
    void Erase(size_t index);
    void SetImage(size_t index, int image);
    void SetAllImages(int image);
    // A mark that stays with its row through inserts and deletes above it,
    // so a burst of changes keeps the user's selection on the same messages.
    void SetSelected(size_t index, bool selected);
    // The indices of the marked rows, ascending; every mark is cleared.
    std::vector<int> TakeSelected();
    void ClearSelected() noexcept;

    // What the list view has not been told yet. A burst of inserts and deletes
    // changes only the rows and this; the view learns the outcome once, because
    // every item-count change costs the view time in proportion to its rows.
    struct PendingView {
        bool active = false;
        int shownCount = 0;     // the view's item count
        std::vector<int> shown; // the view's selection, ascending; its rows are marked
        int shownFocus = -1;
        int focus = -1;
        int shownMark = -1;
        int mark = -1;
        size_t firstChanged = 0;   // rows from here on need repainting
        bool repaintAsked = false; // the whole view waits for a paint already
    };
    PendingView& Pending() { return pending_; }

    // ---- Shown in another order than the store's ----
    // The rows are kept in the store's order, each in its slot; a row's index
    // is its place as shown. Until an order is set they are the same.
    bool Ordered() const { return !order_.empty(); }
    // Shown row i is the row in slot slots[i] (a permutation of every slot).
    // Marks stay with their rows.
    void SetOrder(std::vector<uint32_t> slots);
    size_t Slot(size_t index) const {
        return order_.empty() ? index : (dead_ == 0 ? order_[index] : SlotPastGaps(index));
    }
    size_t ShownOf(size_t slot) const;
    // Inserts a row shown at `index` whose place in the store's order is
    // `slot`; rows in that slot and after move one slot on.
    void InsertAt(size_t index, size_t slot, const MessageRow& row);
    // Values to sort by, one per slot, in the store's order.
    std::vector<uint64_t> ReceivedKeys() const;
    std::vector<std::wstring> Texts(int column) const;
    // The same as UTF-8, valid until the rows change.
    std::vector<std::string_view> TextViews(int column) const;
    // Changes whenever rows come or go, so slots taken before no longer hold.
    uint64_t Version() const { return version_; }
    std::vector<uint8_t> Flags() const; // 1 flagged
    uint64_t ReceivedKey(size_t index) const;
    // Column 1 or 2 (0 or 1) as UTF-8; valid until the rows change.
    std::string_view Text(size_t index, int column) const;

    // Index of the first row with this id, or -1.
    std::ptrdiff_t FindFirst(MESSAGEID id) const;
    // Index of the first row at or after `start` with this id, or -1.
    std::ptrdiff_t FindFrom(MESSAGEID id, size_t start) const;

  private:
    // A row without its texts: 28 bytes.
    struct Entry {
        MESSAGEID id = 0;
        uint32_t timeLow = 0; // the local file time, or the packed fixed fields
        uint32_t timeHigh = 0;
        uint32_t text = 0; // offset of its texts in the block's buffer: from, then subject
        uint32_t fromBytes = 0;
        uint32_t subjectBytes = 0;
        uint8_t image = 0;
        bool flagged = false;
        bool fixedTime = false;
        bool selected = false;
    };
    struct Block {
        std::vector<Entry> rows;
        std::string text;       // every row's texts, UTF-8
        size_t unusedBytes = 0; // of rows erased since the buffer was last packed
        size_t ordinal = 0;     // place in blocks_
        size_t start = 0;       // index of its first row, valid below startsValidTo_
    };

    // The row's entry, its texts added to the block's by `append`.
    template <typename Row, typename AppendText>
    static Entry MakeEntry(const Row& row, Block& block, AppendText append);
    // The block the next appended row goes to.
    Block& AppendTarget(MESSAGEID id);
    void Appended(Block& block);
    void AppendSlot(const MessageRow& row);
    void InsertSlot(size_t slot, const MessageRow& row);
    void EraseSlot(size_t slot);
    void RefreshShown();
    // Deletes from a shown order leave gaps, counted by liveShown_ (over
    // order_'s places) and liveSlots_ (over the slots as they were); one pass
    // closes them when anything else needs the order whole.
    size_t SlotPastGaps(size_t index) const;
    void EraseShown(size_t index);
    void CloseGaps();
    std::ptrdiff_t FindShownFrom(MESSAGEID id, size_t start) const;
    static void Pack(Block& block);
    const Entry& EntryAt(size_t index) const;
    // Finds the block holding `index` and the row's place inside it.
    std::pair<Block*, size_t> Locate(size_t index) const;
    void RefreshStarts() const;
    void MarkStartsFrom(size_t ordinal) const;
    void Renumber(size_t fromOrdinal);
    void SplitIfFull(Block* block);
    void BuildIndex() const;
    void IndexAdd(MESSAGEID id, Block* block) const;
    void IndexRemove(MESSAGEID id, Block* block) const;
    void IndexMove(MESSAGEID id, Block* from, Block* to) const;

    std::vector<std::unique_ptr<Block>> blocks_;
    size_t count_ = 0;
    mutable size_t startsValidTo_ = 0; // blocks below this ordinal have a valid start
    // id -> one entry per row with that id, naming the row's block.
    mutable std::unordered_multimap<MESSAGEID, Block*> index_;
    mutable bool indexBuilt_ = false;
    std::vector<uint32_t> order_;   // shown row -> slot; empty while the same
    std::vector<uint32_t> shownOf_; // slot -> shown row, with order_
    LiveCount liveShown_;
    LiveCount liveSlots_;
    std::vector<bool> goneSlot_;
    size_t dead_ = 0; // gaps in order_
    uint64_t version_ = 0;
    PendingView pending_;
};
