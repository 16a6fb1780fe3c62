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

bool local_to_unix(const CalendarTime& local, int64_t& unix_seconds)
{
    auto to_word = [](int value, WORD& word) {
        if (value < 0 || value > 0xFFFF) {
            return false;
        }
        word = static_cast<WORD>(value);
        return true;
    };
    SYSTEMTIME fields{};
    // SystemTimeToFileTime checks the ranges of the fields; the day of the week is not looked at.
    if (!to_word(local.year, fields.wYear) || !to_word(local.month, fields.wMonth) ||
        !to_word(local.day, fields.wDay) || !to_word(local.hour, fields.wHour) ||
        !to_word(local.minute, fields.wMinute) || !to_word(local.second, fields.wSecond) ||
        !to_word(local.millisecond, fields.wMilliseconds)) {
        return false;
    }
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
