// Finding rows by text: the sender or the subject contains it, ignoring case
// and accents.
#pragma once

#include "main/views/MessageRows.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace message_find {

// Matches texts kept as UTF-8 against one needle, both lower-cased by the
// system and stripped of accents. Plain ASCII texts are looked at byte by byte
// with ASCII case folding and no widening; texts beyond ASCII are folded whole.
class TextMatcher {
  public:
    explicit TextMatcher(std::wstring_view needle);
    bool Empty() const { return wide_.empty(); }
    bool Matches(std::string_view utf8) const;

  private:
    bool ascii_ = true;
    std::string narrow_; // lower-case, when ASCII
    std::wstring wide_;  // lower-case
};

// The next row after `from` (or before it, backwards) whose sender or subject
// contains `text`, wrapping past the end; `from` itself is looked at last and
// -1 starts at the first (or last) row. -1 when none matches or text is empty.
std::ptrdiff_t Next(const MessageRows& rows, std::wstring_view text, std::ptrdiff_t from,
                    bool forward);

} // namespace message_find
