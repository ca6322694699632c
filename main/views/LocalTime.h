// Local-time text of a store time (a UTC file time), as the message list and
// the properties dialog show it.
#pragma once

#include <windows.h>

#include <string>

namespace localtime_text {

// A store time resolved as far as it can be without formatting it: either a
// local file time still to be split into calendar fields, or fields already
// fixed (the zero date, or the current time for a value with no valid date).
struct StoreTime {
    bool fixed = true;
    unsigned long long local = 0; // when not fixed
    SYSTEMTIME fields{};          // when fixed
};

// Converts UTC file times with the time-zone bias in force when it was made,
// as FileTimeToLocalFileTime does (it uses the current bias, whatever the
// date converted), so a folder's worth of times costs one system call.
class LocalTimeZone {
  public:
    LocalTimeZone();
    StoreTime Resolve(const FILETIME& utc) const;

  private:
    long long bias_ = 0; // local minus UTC, in file-time units
    bool known_ = false;
};

// The calendar value of a resolved time.
SYSTEMTIME Fields(const StoreTime& time);

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
