// Text at the store's boundary: the engine keeps UTF-8, callers use 8-bit text
// in a Windows code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace mailstore::com {

// Longest folder name the records can carry, without its NUL.
constexpr size_t kMaxNameBytes = 255;

// UTF-8 to `codePage`. Characters the code page cannot show become '?', as do
// malformed UTF-8 bytes. The result has at most `maxBytes` bytes and is cut only
// between characters.
std::string Utf8ToCodePage(std::string_view utf8, UINT codePage = CP_ACP,
                           size_t maxBytes = std::string::npos);

// UTF-16 to `codePage`, unshowable characters as '?'.
std::string WideToCodePage(std::wstring_view text, UINT codePage = CP_ACP);

// 8-bit text in `codePage` to UTF-8.
std::string CodePageToUtf8(std::string_view text, UINT codePage = CP_ACP);

// A NUL-terminated copy from the COM task allocator; null when out of memory.
LPSTR TaskStringDup(std::string_view text);

// Utf8ToCodePage(utf8) in the system code page: `utf8` itself when it is plain
// ASCII, else the text converted into *scratch.
std::string_view CodePageText(std::string_view utf8, std::string* scratch);

} // namespace mailstore::com
