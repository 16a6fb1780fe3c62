#pragma once
// Time fields of the SI tables (ARIB STD-B10 / ETSI EN 300 468 Annex C): a 40-bit start or
// wall-clock time as Modified Julian Date and BCD hours, minutes and seconds, and a 24-bit BCD
// duration. Broadcast times are Japan time; they are converted to seconds as local time of the
// machine, so the seconds are true UTC only on a machine set to Japan time.
#include <cstdint>

#include "platform/clock.h"
#include "ts/stream_tables.h"

namespace qv {

/// Decodes 3 BCD bytes (hours, minutes, seconds). False when all three are 0xFF (undefined).
[[nodiscard]] bool decode_bcd_duration(const uint8_t* bytes, EventDuration& duration);

/// Decodes a 5-byte MJD + BCD time into a calendar time (day of week and milliseconds 0).
/// False when the MJD bytes or the BCD bytes are all 0xFF (undefined).
[[nodiscard]] bool decode_mjd_time(const uint8_t* bytes, platform::CalendarTime& time);

/// The calendar time taken as local time, as seconds since 1970-01-01 UTC; 0 when the machine
/// cannot convert it.
int64_t broadcast_time_to_seconds(const platform::CalendarTime& time);

}  // namespace qv
