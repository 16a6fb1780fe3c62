// Broadcast time fields, the TOT/TDT handler and the PCR wrap-around prediction.
#include "ts/broadcast_time.h"

#include <gtest/gtest.h>

#include "base/time_convert.h"
#include "support/section_builders.h"
#include "ts/si_tables.h"
#include "ts/wraparound.h"

namespace qv {
namespace {

using test::Bytes;

TEST(MjdTime, KnownDatesDecodeWithDayOfWeekAndMillisecondsZero)
{
    platform::CalendarTime time;
    const uint8_t example[] = {0xC0, 0x79, 0x12, 0x34, 0x56};
    ASSERT_TRUE(decode_mjd_time(example, time));
    EXPECT_EQ(time.year, 1993);
    EXPECT_EQ(time.month, 10);
    EXPECT_EQ(time.day, 13);
    EXPECT_EQ(time.hour, 12);
    EXPECT_EQ(time.minute, 34);
    EXPECT_EQ(time.second, 56);
    EXPECT_EQ(time.day_of_week, 0);
    EXPECT_EQ(time.millisecond, 0);

    // The other Annex C example (ARIB STD-B10 codes 1993-10-13 12:45:00 JST the same way).
    const uint8_t arib[] = {0xC0, 0x79, 0x12, 0x45, 0x00};
    ASSERT_TRUE(decode_mjd_time(arib, time));
    EXPECT_EQ(time.minute, 45);
    EXPECT_EQ(time.second, 0);
}

TEST(MjdTime, DatesAroundMonthAndYearEndsRoundTrip)
{
    struct Date {
        int year, month, day;
    };
    const Date dates[] =
        {
            {1900, 3, 1},   {1999, 12, 31}, {2000, 1, 1},  {2000, 2, 29},
            {2000, 3, 1},   {2015, 10, 21}, {2023, 2, 28}, {2024, 2, 29},
            {2024, 12, 31}, {2038, 1, 19},  {2038, 4, 21}};  // MJD 65534: the last codable day
    for (const Date& date : dates) {
        Bytes field = test::mjd_time(date.year, date.month, date.day, 23, 59, 59);
        platform::CalendarTime time;
        ASSERT_TRUE(decode_mjd_time(field.data(), time)) << date.year;
        EXPECT_EQ(time.year, date.year);
        EXPECT_EQ(time.month, date.month) << date.year;
        EXPECT_EQ(time.day, date.day) << date.year << "-" << date.month;
        EXPECT_EQ(time.hour, 23);
    }
}

TEST(MjdTime, UndefinedFieldsFailAndBcdDigitsAreTakenModuloTen)
{
    platform::CalendarTime time;
    const uint8_t undefined_date[] = {0xFF, 0xFF, 0x12, 0x00, 0x00};
    const uint8_t undefined_clock[] = {0xC0, 0x79, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(decode_mjd_time(undefined_date, time));
    EXPECT_FALSE(decode_mjd_time(undefined_clock, time));

    EventDuration duration;
    const uint8_t undefined_duration[] = {0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(decode_bcd_duration(undefined_duration, duration));
    const uint8_t ninety_minutes[] = {0x01, 0x30, 0x00};
    ASSERT_TRUE(decode_bcd_duration(ninety_minutes, duration));
    EXPECT_EQ(duration.hours, 1);
    EXPECT_EQ(duration.minutes, 30);
    EXPECT_EQ(duration.seconds, 0);
    const uint8_t bad_digits[] = {0x1A, 0x5F, 0xFF};  // low nibbles A and F count as 0 and 5
    ASSERT_TRUE(decode_bcd_duration(bad_digits, duration));
    EXPECT_EQ(duration.hours, 10);
    EXPECT_EQ(duration.minutes, 55);
    EXPECT_EQ(duration.seconds, 155);
}

/// A TOT/TDT packet on PID 0x0014 with counter `counter`.
Bytes time_packet(uint8_t table_id, const Bytes& time, uint8_t& counter, uint16_t pid = kTotPid)
{
    return test::section_packets(test::time_section(table_id, time), pid, counter)[0];
}

bool feed_tot(StreamContext& context, const Bytes& packet, ByteBuffer* copy = nullptr)
{
    PidState* state = test::ingest_packet(context, packet);
    return state != nullptr && parse_tot(context, *state, packet.data(), copy);
}

int64_t local_seconds(const platform::CalendarTime& time)
{
    int64_t seconds = 0;
    EXPECT_TRUE(local_time_to_unix(time, seconds));
    return seconds;
}

TEST(TotParse, TotAndTdtSetTheStreamTime)
{
    for (uint8_t table_id : {kTotTableId, kTdtTableId}) {
        StreamContext context;
        uint8_t counter = 0;
        ByteBuffer copy;
        Bytes packet = time_packet(table_id, test::mjd_time(2015, 10, 21, 12, 0, 0), counter);
        ASSERT_TRUE(feed_tot(context, packet, &copy)) << int{table_id};
        const StreamTimeInfo& time = context.stream_time;
        EXPECT_EQ(time.current_time.year, 2015);
        EXPECT_EQ(time.current_time.month, 10);
        EXPECT_EQ(time.current_time.day, 21);
        EXPECT_EQ(time.current_time.hour, 12);
        EXPECT_EQ(time.current_seconds, local_seconds(time.current_time));
        EXPECT_EQ(copy.data, packet);
        EXPECT_TRUE(copy.changed);
    }
}

TEST(TotParse, OtherTablesUndefinedTimesAndOtherPidsAreNotTaken)
{
    StreamContext context;
    uint8_t counter = 0;
    ASSERT_TRUE(feed_tot(
        context, time_packet(kTotTableId, test::mjd_time(2015, 10, 21, 12, 0, 0), counter)));
    int64_t taken = context.stream_time.current_seconds;

    ByteBuffer copy;
    EXPECT_FALSE(
        feed_tot(context, time_packet(0x72, test::mjd_time(2016, 1, 1, 0, 0, 0), counter), &copy));
    EXPECT_FALSE(feed_tot(
        context, time_packet(kTotTableId, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, counter), &copy));
    EXPECT_FALSE(feed_tot(
        context, time_packet(kTdtTableId, {0xC0, 0x79, 0xFF, 0xFF, 0xFF}, counter), &copy));
    uint8_t other_counter = 0;
    EXPECT_FALSE(feed_tot(
        context,
        time_packet(kTotTableId, test::mjd_time(2016, 1, 1, 0, 0, 0), other_counter, 0x0024),
        &copy));
    EXPECT_EQ(context.stream_time.current_seconds, taken);
    EXPECT_TRUE(copy.data.empty());

    // Adaptation field only: no payload to read a table from.
    Bytes stuffing(188, 0xFF);
    stuffing[0] = 0x47;
    stuffing[1] = 0x00;
    stuffing[2] = 0x14;
    stuffing[3] = static_cast<uint8_t>(0x20 | counter);
    stuffing[4] = 2;
    stuffing[5] = 0x00;
    stuffing[7] = kTotTableId;
    EXPECT_FALSE(feed_tot(context, stuffing));
}

TEST(WrapAroundPrediction, PcrAtTwoToTheThirtyTwoWrapsIn47721Seconds)
{
    StreamContext context;
    context.pcr_clock.first = false;
    context.pcr_clock.origin = 0x80000000;
    context.pcr_clock.elapsed = 0x80000000;  // origin + elapsed = 0x100000000
    uint8_t counter = 0;
    ASSERT_TRUE(feed_tot(
        context, time_packet(kTotTableId, test::mjd_time(2015, 10, 21, 12, 0, 0), counter)));
    int64_t now = context.stream_time.current_seconds;
    EXPECT_EQ(context.wrap_time, now + 47721);  // 13 h 15 min 21 s
    EXPECT_TRUE(context.wrap_report_pending);
    platform::CalendarTime expected;
    ASSERT_TRUE(platform::unix_to_local(now + 47721, expected));
    EXPECT_EQ(context.wrap_local_time.day, expected.day);
    EXPECT_EQ(context.wrap_local_time.hour, expected.hour);
    EXPECT_EQ(context.wrap_local_time.minute, expected.minute);
    EXPECT_EQ(context.wrap_local_time.second, expected.second);

    // While the instant lies ahead, a later TOT leaves the prediction (and its report) alone.
    context.wrap_report_pending = false;
    context.pcr_clock.elapsed += 3600 * 90000;
    ASSERT_TRUE(feed_tot(
        context, time_packet(kTotTableId, test::mjd_time(2015, 10, 21, 13, 0, 0), counter)));
    EXPECT_EQ(context.wrap_time, now + 47721);
    EXPECT_FALSE(context.wrap_report_pending);

    // Once it has passed, the prediction is made again from the clock's present value.
    context.pcr_clock.elapsed = 0x180000000;  // wrapped since the origin: 0x200000000 → 0
    ASSERT_TRUE(feed_tot(context,
                         time_packet(kTotTableId, test::mjd_time(2015, 10, 22, 2, 0, 0), counter)));
    int64_t later = context.stream_time.current_seconds;
    EXPECT_EQ(context.wrap_time, later + static_cast<int64_t>(0x1FFFFFFFFull / 90000));
    EXPECT_TRUE(context.wrap_report_pending);
}

TEST(WrapAroundPrediction, NoClockOriginNoPrediction)
{
    StreamContext context;
    update_wraparound_prediction(context, 1445396400);
    EXPECT_EQ(context.wrap_time, 0);
    EXPECT_FALSE(context.wrap_report_pending);

    // A passed prediction is cleared even when no new one can be made.
    context.wrap_time = 1000;
    context.wrap_report_pending = true;
    update_wraparound_prediction(context, 2000);
    EXPECT_EQ(context.wrap_time, 0);
    EXPECT_FALSE(context.wrap_report_pending);

    // Without PCR the PTS clock is the preferred running one.
    context.pts_clock.origin = 0x1FFFFFFFF - 90000 * 10;
    context.pts_clock.elapsed = 90000;
    update_wraparound_prediction(context, 2000);
    EXPECT_EQ(context.wrap_time, 2000 + 9);
}

}  // namespace
}  // namespace qv
