// Ticks and local calendar time on POSIX: CLOCK_MONOTONIC_COARSE, localtime_r and mktime under the TZ
// rules of the machine.
#include "platform/clock.h"

#include <ctime>
#include <limits>

namespace qv::platform {

namespace {

// The calendar range a SYSTEMTIME can hold; both platforms refuse the same times.
constexpr int kFirstYear = 1601;
constexpr int kLastYear = 30827;

bool is_leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month)
{
    constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

bool fits_time_t(int64_t seconds)
{
    if constexpr (sizeof(time_t) < sizeof(int64_t)) {
        return seconds >= std::numeric_limits<time_t>::min() &&
               seconds <= std::numeric_limits<time_t>::max();
    }
    return true;
}

}  // namespace

uint32_t tick_count_ms()
{
    // The coarse clock is read from the vDSO page without a timer read: a few nanoseconds, and
    // still finer than the Windows tick count. The stream pump asks for it on many packets.
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);  // wraps at 2^32 like the Windows tick count
}

int64_t current_unix_time()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec);
}

int32_t time_zone_bias_minutes()
{
    const time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return 0;
    }
    // tm_gmtoff is east of UTC and includes daylight saving time in force now.
    return static_cast<int32_t>(-(local.tm_gmtoff / 60));
}

bool unix_to_local(int64_t unix_seconds, CalendarTime& local)
{
    if (!fits_time_t(unix_seconds)) {
        return false;
    }
    const time_t t = static_cast<time_t>(unix_seconds);
    tm fields{};
    if (localtime_r(&t, &fields) == nullptr) {
        return false;
    }
    const int64_t year = static_cast<int64_t>(fields.tm_year) + 1900;
    if (year < kFirstYear || year > kLastYear) {
        return false;
    }
    local.year = static_cast<int>(year);
    local.month = fields.tm_mon + 1;
    local.day = fields.tm_mday;
    local.hour = fields.tm_hour;
    local.minute = fields.tm_min;
    local.second = fields.tm_sec;
    local.millisecond = 0;
    local.day_of_week = fields.tm_wday;
    return true;
}

bool local_to_unix(const CalendarTime& local, int64_t& unix_seconds)
{
    // The checks SystemTimeToFileTime makes; the day of the week is not looked at.
    if (local.year < kFirstYear || local.year > kLastYear || local.month < 1 || local.month > 12 ||
        local.day < 1 || local.day > days_in_month(local.year, local.month) || local.hour < 0 ||
        local.hour > 23 || local.minute < 0 || local.minute > 59 || local.second < 0 ||
        local.second > 59 || local.millisecond < 0 || local.millisecond > 999) {
        return false;
    }
    tm fields{};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day;
    fields.tm_hour = local.hour;
    fields.tm_min = local.minute;
    fields.tm_sec = local.second;
    fields.tm_isdst = -1;  // let the zone rules decide whether daylight saving time applies
    fields.tm_wday = -1;   // mktime fills it on success; -1 stays only on failure
    const time_t result = mktime(&fields);
    if (result == static_cast<time_t>(-1) && fields.tm_wday == -1) {
        return false;
    }
    unix_seconds = static_cast<int64_t>(result);
    return true;
}

}  // namespace qv::platform
