// Conversion of header text in the common mail charsets to UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace mailstore {

// Appends code point cp as UTF-8 (invalid code points become U+FFFD).
void AppendUtf8(uint32_t cp, std::string* out);

// Converts bytes in the named charset (case-insensitive, common aliases accepted,
// an RFC 2231 "*language" suffix ignored) to UTF-8. Returns false for a charset it
// does not know; bytes a charset leaves undefined and broken UTF-8 become U+FFFD.
bool CharsetToUtf8(std::string_view charset, std::string_view bytes, std::string* out);

// Text that is valid UTF-8 is kept; otherwise it is read as windows-1252, which
// is what unlabelled 8-bit header text nearly always is.
std::string BytesToUtf8(std::string_view bytes);

bool IsValidUtf8(std::string_view bytes);

// The longest prefix of s of at most maxBytes that does not split a UTF-8 character.
std::string CutUtf8(const std::string& s, size_t maxBytes);

// Length of the well-formed UTF-8 sequence that starts at s[i]; 0 where none
// does (a stray byte, a cut sequence, an overlong form, a surrogate, or a code
// point past U+10FFFF).
size_t Utf8SequenceAt(std::string_view s, size_t i);

// Whether s[i] starts a control character: C0, DEL, or C1 (U+0080..U+009F,
// which some terminals obey too).
bool IsControlAt(std::string_view s, size_t i);

// Bytes of a direction mark, embedding, override or isolate at s[i] (0 for
// none): they make text read differently from what it is.
size_t DirectionControlAt(std::string_view s, size_t i);

namespace detail {
// JIS X 0208 to Unicode, 94 x 94 cells from 0x2121 (JisTable.cpp).
extern const uint16_t kJisX0208[94 * 94];

struct CharsetTable {
    const char* name;
    const uint16_t* upper; // code points of bytes 0x80..0xFF, 0 = undefined
};
extern const CharsetTable kCharsetTables[];
extern const size_t kCharsetTableCount;
} // namespace detail

} // namespace mailstore
