#pragma once
// Wall-clock ticks and local calendar time (the machine's time-zone rules).
#include <cstdint>

namespace qv::platform {

/// Milliseconds from an arbitrary start, wrapping at 2^32 (GetTickCount; POSIX monotonic clock).
uint32_t tick_count_ms();

/// A calendar time as the broadcast and the console see it (SYSTEMTIME fields).
struct CalendarTime {
    int year = 1970;
    int month = 1;  ///< 1-12
    int day = 1;    ///< 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    int day_of_week = 4;  ///< 0 Sunday
};

/// Seconds since 1970-01-01 UTC, now.
int64_t current_unix_time();
/// The time-zone bias in minutes as Windows defines it: UTC = local + bias (Japan: -540).
int32_t time_zone_bias_minutes();
/// UTC seconds since 1970 → local calendar time; false when out of range.
[[nodiscard]] bool unix_to_local(int64_t unix_seconds, CalendarTime& local);
/// Local calendar time → UTC seconds since 1970; false when the fields are invalid.
[[nodiscard]] bool local_to_unix(const CalendarTime& local, int64_t& unix_seconds);

}  // namespace qv::platform
