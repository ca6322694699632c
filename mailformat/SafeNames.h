// File names made from what a message says (an attachment's name): safe on
// Windows and POSIX alike, never a path, a device or a hidden name.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mailformat {

// A name Windows takes for a device whatever follows its first dot (con,
// CONIN$, com1, lpt¹ ...).
bool IsReservedDeviceName(std::string_view name);

// `text` (UTF-8, any bytes) as one file name of at most maxBytes: only its last
// path part; no reserved, control or direction-changing characters; no leading
// dot, no trailing dot or blank, no device name; an extension kept when the
// name is cut. `fallback` when nothing is left.
std::string SafeFileName(std::string_view text, size_t maxBytes, std::string_view fallback);

} // namespace mailformat
