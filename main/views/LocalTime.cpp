#include "main/views/LocalTime.h"

namespace localtime_text {

namespace {

// 10000-01-01 00:00:00 as a file time: a date-time value ends before it.
constexpr unsigned long long kEndOfCalendar = 2650467744000000000ull;

unsigned long long Value(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME FromValue(unsigned long long value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

// The calendar's zero value; built field by field, not through a file time.
SYSTEMTIME ZeroDateTime() {
    SYSTEMTIME zero{};
    zero.wYear = 1899;
    zero.wMonth = 12;
    zero.wDay = 30;
    zero.wDayOfWeek = 6; // a Saturday
    return zero;
}

StoreTime Fixed(const SYSTEMTIME& fields) {
    StoreTime time;
    time.fields = fields;
    return time;
}

StoreTime Now() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return Fixed(now);
}

} // namespace

LocalTimeZone::LocalTimeZone() {
    // Any time will do: the bias applied does not depend on it.
    FILETIME probe = FromValue(130000000000000000ull), local{};
    if (FileTimeToLocalFileTime(&probe, &local)) {
        bias_ = static_cast<long long>(Value(local) - Value(probe));
        known_ = true;
    }
}

StoreTime LocalTimeZone::Resolve(const FILETIME& utc) const {
    if (utc.dwLowDateTime == 0 && utc.dwHighDateTime == 0)
        return Fixed(ZeroDateTime());
    unsigned long long value = Value(utc);
    unsigned long long local = 0;
    if (known_) {
        local = value + static_cast<unsigned long long>(bias_);
        // Wrapped below zero or past the calendar: no valid date.
        bool wrapped = bias_ < 0 ? local > value : local < value;
        if (wrapped)
            return Now();
    } else {
        FILETIME converted{};
        if (!FileTimeToLocalFileTime(&utc, &converted))
            return Now();
        local = Value(converted);
    }
    if (local >= kEndOfCalendar)
        return Now();
    StoreTime time;
    time.fixed = false;
    time.local = local;
    return time;
}

SYSTEMTIME Fields(const StoreTime& time) {
    if (time.fixed)
        return time.fields;
    FILETIME local = FromValue(time.local);
    SYSTEMTIME fields{};
    if (!FileTimeToSystemTime(&local, &fields))
        GetLocalTime(&fields);
    return fields;
}

SYSTEMTIME LocalDateTime(const FILETIME& utc) {
    return Fields(LocalTimeZone().Resolve(utc));
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
