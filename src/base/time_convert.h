#pragma once
// Conversions between seconds since 1970-01-01 UTC, Windows file times (100 ns units since
// 1601-01-01 UTC) and local calendar times.
#include <cstdint>

#include "platform/clock.h"

namespace qv {

/// Seconds between 1601-01-01 and 1970-01-01.
inline constexpr int64_t kFileTimeEpochOffsetSeconds = 11644473600;
inline constexpr int64_t kFileTimeUnitsPerSecond = 10000000;

/// Unix seconds (32-bit, sign-extended) → FILETIME.
constexpr int64_t unix_to_file_time(int32_t unix_seconds)
{
    return (static_cast<int64_t>(unix_seconds) + kFileTimeEpochOffsetSeconds) *
           kFileTimeUnitsPerSecond;
}

/// FILETIME → Unix seconds (truncating toward zero).
constexpr int64_t file_time_to_unix(int64_t file_time)
{
    return (file_time - kFileTimeEpochOffsetSeconds * kFileTimeUnitsPerSecond) /
           kFileTimeUnitsPerSecond;
}

/// Unix seconds (32-bit) → local calendar time.
[[nodiscard]] bool unix_to_local_time(int32_t unix_seconds, platform::CalendarTime& local);
/// Local calendar time → Unix seconds.
[[nodiscard]] bool local_time_to_unix(const platform::CalendarTime& local, int64_t& unix_seconds);
/// The current Unix time; with `local`, shifted by the time-zone bias the way Windows states it
/// (UTC = local + bias), i.e. local wall-clock seconds counted as if they were UTC.
int64_t current_time(bool local);

}  // namespace qv
