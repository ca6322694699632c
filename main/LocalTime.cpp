#include "LocalTime.h"

namespace localtime_text {

namespace {

// The calendar's zero value. SystemTimeToFileTime would work for it too, but
// building the fields directly avoids any round trip through a file time.
SYSTEMTIME ZeroDateTime() {
    SYSTEMTIME zero{};
    zero.wYear = 1899;
    zero.wMonth = 12;
    zero.wDay = 30;
    zero.wDayOfWeek = 6; // a Saturday
    return zero;
}

// A date-time value only covers years 1 to 9999; file times reach further.
bool FormsDateTime(const SYSTEMTIME& value) {
    return value.wYear >= 1 && value.wYear <= 9999 && value.wMonth >= 1 && value.wMonth <= 12 &&
           value.wDay >= 1 && value.wDay <= 31 && value.wHour < 24 && value.wMinute < 60 &&
           value.wSecond < 60 && value.wMilliseconds < 1000;
}

} // namespace

SYSTEMTIME LocalDateTime(const FILETIME& utc) {
    if (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0)
        return ZeroDateTime();
    FILETIME local{};
    SYSTEMTIME fields{};
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &fields) &&
        FormsDateTime(fields))
        return fields;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return now;
}

std::wstring DateTimeText(const SYSTEMTIME& value) {
    wchar_t date[128] = {};
    if (GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &value, nullptr, date, 128) == 0)
        date[0] = L'\0';
    std::wstring text(date);
    if (IsMidnight(value))
        return text;
    wchar_t time[128] = {};
    if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &value, nullptr, time, 128) == 0)
        time[0] = L'\0';
    text += L' ';
    text += time;
    return text;
}

std::wstring LocalTimeText(const FILETIME& utc) {
    return DateTimeText(LocalDateTime(utc));
}

} // namespace localtime_text
