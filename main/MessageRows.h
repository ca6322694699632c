// The message list's rows, kept beside an owner-data list view: the view asks
// for what it shows, so filling and emptying stay cheap on big folders.
#pragma once

#include "StoreApi.h"

#include <cstddef>
#include <string>
#include <vector>

struct MessageRow {
    MESSAGEID id = 0;        // the row's data word
    int image = 0;           // 1 unread, 0 read
    bool flagged = false;    // column 4 shows the flag picture
    std::wstring from;       // column 1
    std::wstring subject;    // column 2
    std::wstring received;   // column 3
};

class MessageRows {
  public:
    size_t Count() const { return rows_.size(); }
    const MessageRow& At(size_t index) const { return rows_[index]; }
    MessageRow& At(size_t index) { return rows_[index]; }

    void Clear() { rows_.clear(); }
    void Append(MessageRow row) { rows_.push_back(std::move(row)); }
    void Insert(size_t index, MessageRow row) {
        rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(index), std::move(row));
    }
    void Erase(size_t index) { rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index)); }

    // Index of the first row with this id, or -1.
    std::ptrdiff_t FindFirst(MESSAGEID id) const {
        for (size_t i = 0; i < rows_.size(); ++i)
            if (rows_[i].id == id)
                return static_cast<std::ptrdiff_t>(i);
        return -1;
    }

  private:
    std::vector<MessageRow> rows_;
};
