// HTML turned into plain text for reading: block elements become line breaks,
// entities are decoded, style and script contents and comments dropped, links
// shown as "text <url>". Nothing is fetched and nothing runs; any input gives
// text in one pass.
#pragma once

#include <string>
#include <string_view>

namespace mailformat {

// `html` is UTF-8; so is the result, with "\n" line ends.
std::string HtmlToText(std::string_view html);

} // namespace mailformat
