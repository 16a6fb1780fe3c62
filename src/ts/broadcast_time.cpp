#include "ts/broadcast_time.h"

#include "base/time_convert.h"

namespace qv {
namespace {

uint16_t bcd_value(uint8_t byte)
{
    return static_cast<uint16_t>((byte >> 4) * 10 + (byte & 0x0F) % 10);
}

}  // namespace

bool decode_bcd_duration(const uint8_t* bytes, EventDuration& duration)
{
    if (bytes[0] == 0xFF && bytes[1] == 0xFF && bytes[2] == 0xFF) {
        return false;
    }
    duration.hours = bcd_value(bytes[0]);
    duration.minutes = bcd_value(bytes[1]);
    duration.seconds = bcd_value(bytes[2]);
    return true;
}

bool decode_mjd_time(const uint8_t* bytes, platform::CalendarTime& time)
{
    EventDuration clock;
    if (!decode_bcd_duration(bytes + 2, clock)) {
        return false;
    }
    if (bytes[0] == 0xFF && bytes[1] == 0xFF) {
        return false;
    }
    // ETSI EN 300 468 Annex C, in exact integer arithmetic: the factors 365.25, 30.6001,
    // 15078.2 and 14956.1 are scaled to integers so that each int() truncates the same value.
    int64_t mjd = (int64_t{bytes[0]} << 8) | bytes[1];
    int64_t year_part = (mjd * 20 - 301564) / 7305;  // (MJD - 15078.2) / 365.25
    int64_t year_days = year_part * 1461 / 4;        // int(Y' * 365.25)
    int64_t month_part = (mjd * 10000 - 149561000 - year_days * 10000) / 306001;
    int64_t month_days = month_part * 306001 / 10000;  // int(M' * 30.6001)
    int64_t day = mjd - 14956 - year_days - month_days;
    int64_t carry = (month_part == 14 || month_part == 15) ? 1 : 0;
    time = platform::CalendarTime{};
    time.year = static_cast<int>(1900 + year_part + carry);
    time.month = static_cast<int>(month_part - 1 - carry * 12);
    time.day = static_cast<int>(day);
    time.hour = clock.hours;
    time.minute = clock.minutes;
    time.second = clock.seconds;
    time.millisecond = 0;
    time.day_of_week = 0;
    return true;
}

int64_t broadcast_time_to_seconds(const platform::CalendarTime& time)
{
    int64_t seconds = 0;
    if (!local_time_to_unix(time, seconds)) {
        return 0;
    }
    return seconds;
}

}  // namespace qv
