// FILETIME (100 ns ticks since 1601-01-01 UTC) to and from UTC calendar time.
#pragma once

#include <cstdint>

namespace mailstore {

struct CivilTime {
    int year = 1601, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    int weekday = 1; // 0 is Sunday; 1601-01-01 was a Monday
};

// FILETIME of a UTC calendar time; 0 for dates before 1601.
uint64_t FileTimeFromUtc(int year, int month, int day, int hour, int minute, int second);
// The UTC calendar time of a FILETIME.
CivilTime ToCivil(uint64_t fileTime);
// The system clock as FILETIME.
uint64_t FileTimeNow();

} // namespace mailstore
