// Local-time text of a store time (a UTC file time), as the message list and
// the properties dialog show it.
#pragma once

#include <windows.h>

#include <string>

namespace localtime_text {

// The calendar value a store time stands for: the zero date 1899-12-30 for a
// zero time, the local time otherwise, and the current local time when the
// converted fields form no valid date or time.
SYSTEMTIME LocalDateTime(const FILETIME& utc);

// Short date, then one blank and the long time unless the time is midnight.
std::wstring DateTimeText(const SYSTEMTIME& value);

// Both steps together.
std::wstring LocalTimeText(const FILETIME& utc);

// True when a time of day is exactly 00:00:00.000.
inline bool IsMidnight(const SYSTEMTIME& value) {
    return value.wHour == 0 && value.wMinute == 0 && value.wSecond == 0 && value.wMilliseconds == 0;
}

} // namespace localtime_text
