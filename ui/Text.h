// Store texts are 8-bit in the process's code page (UTF-8 where the system
// honours the program's manifest); the windows are UTF-16.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace ui {

std::wstring FromAnsi(std::string_view text, UINT codePage = CP_ACP);
std::string ToAnsi(std::wstring_view text, UINT codePage = CP_ACP);
// Decoded mail text is UTF-8 whatever the process's code page.
inline std::wstring FromUtf8(std::string_view text) {
    return FromAnsi(text, CP_UTF8);
}
inline std::string ToUtf8(std::wstring_view text) {
    return ToAnsi(text, CP_UTF8);
}
// False when a character of `text` has no form in the system code page, so
// ToAnsi would put another in its place.
bool FitsAnsi(std::wstring_view text);
// The length of the longest start of `text` that ends between two characters
// of `codePage` (CP_ACP: the process's): what is left is the start of a
// character whose other bytes are still to come.
size_t WholeChars(std::string_view text, UINT codePage = CP_ACP);
// Loads the rich edit's window class once, for the life of the process: loading
// it costs more than showing a small text.
void LoadRichEdit();

} // namespace ui
