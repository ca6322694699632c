#include "main/views/LocalTime.h"

#include <gtest/gtest.h>

#include <string>

using localtime_text::LocalTimeText;

namespace {

std::wstring ShortDate(const SYSTEMTIME& value) {
    wchar_t text[128] = {};
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &value, nullptr, text, 128);
    return text;
}

std::wstring LongTime(const SYSTEMTIME& value) {
    wchar_t text[128] = {};
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &value, nullptr, text, 128);
    return text;
}

std::wstring DateTimeOf(const SYSTEMTIME& value) {
    return localtime_text::DateTimeText(value);
}

// The UTC file time of a local calendar value.
FILETIME FromLocal(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME local{};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    local.wHour = hour;
    local.wMinute = minute;
    local.wSecond = second;
    FILETIME localFile{}, utc{};
    EXPECT_TRUE(SystemTimeToFileTime(&local, &localFile));
    EXPECT_TRUE(LocalFileTimeToFileTime(&localFile, &utc));
    return utc;
}

TEST(LocalTimeText, ZeroTimeIsTheCalendarZeroWithoutATime) {
    std::wstring text = LocalTimeText(FILETIME{0, 0});
    SYSTEMTIME zero{};
    zero.wYear = 1899;
    zero.wMonth = 12;
    zero.wDay = 30;
    zero.wDayOfWeek = 6;
    EXPECT_EQ(text, ShortDate(zero));
    EXPECT_NE(text.find(L"1899"), std::wstring::npos) << std::string(text.begin(), text.end());
    EXPECT_EQ(text.find(L' '), std::wstring::npos);
}

TEST(LocalTimeText, OnlyOneHalfZeroIsAnOrdinaryTime) {
    // 0x00000000'00000001 is 1601-01-01, not the zero value.
    std::wstring text = LocalTimeText(FILETIME{1, 0});
    EXPECT_EQ(text.find(L"1899"), std::wstring::npos);
}

TEST(LocalTimeText, MidnightLocalShowsTheDateOnly) {
    FILETIME utc = FromLocal(2024, 3, 15, 0, 0, 0);
    SYSTEMTIME day{};
    day.wYear = 2024;
    day.wMonth = 3;
    day.wDay = 15;
    EXPECT_EQ(LocalTimeText(utc), ShortDate(day));
}

TEST(LocalTimeText, OtherTimesShowDateBlankAndLongTime) {
    FILETIME utc = FromLocal(2024, 3, 15, 13, 5, 9);
    SYSTEMTIME value{};
    value.wYear = 2024;
    value.wMonth = 3;
    value.wDay = 15;
    value.wHour = 13;
    value.wMinute = 5;
    value.wSecond = 9;
    EXPECT_EQ(LocalTimeText(utc), ShortDate(value) + L" " + LongTime(value));

    // One second after midnight is not midnight.
    FILETIME early = FromLocal(2024, 3, 15, 0, 0, 1);
    EXPECT_NE(LocalTimeText(early).find(L' '), std::wstring::npos);
}

TEST(LocalTimeText, FieldsBeyondTheCalendarGiveTheCurrentTime) {
    // Year 30,000-something: a valid file time, but no date-time value.
    FILETIME beyond{0xFFFFFFFFu, 0x7FFFFFFFu};
    SYSTEMTIME before{}, after{};
    GetLocalTime(&before);
    SYSTEMTIME value = localtime_text::LocalDateTime(beyond);
    GetLocalTime(&after);
    FILETIME b{}, v{}, a{};
    ASSERT_TRUE(SystemTimeToFileTime(&before, &b));
    ASSERT_TRUE(SystemTimeToFileTime(&value, &v));
    ASSERT_TRUE(SystemTimeToFileTime(&after, &a));
    EXPECT_LE(CompareFileTime(&b, &v), 0);
    EXPECT_LE(CompareFileTime(&v, &a), 0);

    // A file time the system cannot convert at all takes the same road.
    SYSTEMTIME broken = localtime_text::LocalDateTime(FILETIME{0, 0x80000000u});
    EXPECT_GE(broken.wYear, before.wYear);
    EXPECT_LE(broken.wYear, 9999);
}

TEST(LocalTimeText, OneBiasForAFolderMatchesTheSystemConversionForEveryDate) {
    localtime_text::LocalTimeZone zone;
    // Winter and summer dates, both sides of 1970 and far ahead.
    for (unsigned long long value :
         {1ull, 116444736000000000ull, 133000000000000000ull, 133200000000000000ull,
          133350000000000000ull, 2500000000000000000ull}) {
        FILETIME utc{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
        FILETIME local{};
        SYSTEMTIME expected{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        ASSERT_TRUE(FileTimeToSystemTime(&local, &expected));
        SYSTEMTIME actual = localtime_text::Fields(zone.Resolve(utc));
        EXPECT_EQ(DateTimeOf(actual), DateTimeOf(expected)) << value;
    }
}

} // namespace
