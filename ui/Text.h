// Store texts are 8-bit in the system code page; the windows are UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace ui {

std::wstring FromAnsi(std::string_view text);
std::string ToAnsi(std::wstring_view text);
// False when a character of `text` has no form in the system code page, so
// ToAnsi would put another in its place.
bool FitsAnsi(std::wstring_view text);

} // namespace ui
