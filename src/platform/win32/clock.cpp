// Ticks and local calendar time on Windows: GetTickCount, file times and the system's time zone.
#include "platform/clock.h"

#include <windows.h>

#include <limits>

namespace qv::platform {

namespace {

constexpr int64_t kEpochDifferenceSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
constexpr int64_t kFileTimeUnitsPerSecond = 10000000;     // FILETIME counts 100 ns
constexpr int64_t kUnixEpochAsFileTime = kEpochDifferenceSeconds * kFileTimeUnitsPerSecond;

FILETIME to_file_time(uint64_t value)
{
    FILETIME time{};
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

uint64_t from_file_time(const FILETIME& time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

int64_t file_time_to_unix(uint64_t value)
{
    return (static_cast<int64_t>(value) - kUnixEpochAsFileTime) / kFileTimeUnitsPerSecond;
}

}  // namespace

uint32_t tick_count_ms() { return GetTickCount(); }

int64_t current_unix_time()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return file_time_to_unix(from_file_time(now));
}

int32_t time_zone_bias_minutes()
{
    TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetTimeZoneInformation(&zone);
    if (which == TIME_ZONE_ID_INVALID) {
        return 0;
    }
    // The bias in force now, daylight saving time included, like the POSIX side.
    if (which == TIME_ZONE_ID_DAYLIGHT) {
        return static_cast<int32_t>(zone.Bias + zone.DaylightBias);
    }
    if (which == TIME_ZONE_ID_STANDARD) {
        return static_cast<int32_t>(zone.Bias + zone.StandardBias);
    }
    return static_cast<int32_t>(zone.Bias);
}

bool unix_to_local(int64_t unix_seconds, CalendarTime& local)
{
    // FILETIME is unsigned and FileTimeToSystemTime takes values below 2^63 only.
    constexpr int64_t kLastSeconds =
        std::numeric_limits<int64_t>::max() / kFileTimeUnitsPerSecond - kEpochDifferenceSeconds;
    if (unix_seconds < -kEpochDifferenceSeconds || unix_seconds > kLastSeconds) {
        return false;
    }
    const FILETIME utc =
        to_file_time(static_cast<uint64_t>(unix_seconds + kEpochDifferenceSeconds) *
                     static_cast<uint64_t>(kFileTimeUnitsPerSecond));
    FILETIME local_file_time{};
    SYSTEMTIME fields{};
    if (!FileTimeToLocalFileTime(&utc, &local_file_time) ||
        !FileTimeToSystemTime(&local_file_time, &fields)) {
        return false;
    }
    local.year = fields.wYear;
    local.month = fields.wMonth;
    local.day = fields.wDay;
    local.hour = fields.wHour;
    local.minute = fields.wMinute;
    local.second = fields.wSecond;
    local.millisecond = fields.wMilliseconds;
    local.day_of_week = fields.wDayOfWeek;
    return true;
}

namespace {

bool is_leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month)
{
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool local_to_unix(const CalendarTime& local, int64_t& unix_seconds)
{
    // The checks SystemTimeToFileTime makes on Windows, made here as well because not every
    // implementation of it makes them (Wine takes 29 February of any year); the day of the week
    // is not looked at.
    if (local.year < 1601 || local.year > 30827 || local.month < 1 || local.month > 12 ||
        local.day < 1 || local.day > days_in_month(local.year, local.month) || local.hour < 0 ||
        local.hour > 23 || local.minute < 0 || local.minute > 59 || local.second < 0 ||
        local.second > 59 || local.millisecond < 0 || local.millisecond > 999) {
        return false;
    }
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(local.year);
    fields.wMonth = static_cast<WORD>(local.month);
    fields.wDay = static_cast<WORD>(local.day);
    fields.wHour = static_cast<WORD>(local.hour);
    fields.wMinute = static_cast<WORD>(local.minute);
    fields.wSecond = static_cast<WORD>(local.second);
    fields.wMilliseconds = static_cast<WORD>(local.millisecond);
    FILETIME local_file_time{};
    FILETIME utc{};
    if (!SystemTimeToFileTime(&fields, &local_file_time) ||
        !LocalFileTimeToFileTime(&local_file_time, &utc)) {
        return false;
    }
    unix_seconds = file_time_to_unix(from_file_time(utc));
    return true;
}

}  // namespace qv::platform
