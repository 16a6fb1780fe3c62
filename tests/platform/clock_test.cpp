#include "platform/clock.h"

#include <gtest/gtest.h>

#include "platform/thread.h"

namespace qv::platform {
namespace {

TEST(TickCount, AdvancesWithSleep)
{
    const uint32_t start = tick_count_ms();
    sleep_ms(50);
    const uint32_t elapsed = tick_count_ms() - start;  // unsigned: right across a wrap too
    EXPECT_GE(elapsed, 30u);                           // Windows ticks come in steps of about 16 ms
    EXPECT_LT(elapsed, 5000u);
}

TEST(LocalTime, RoundTripsAcrossTheRange)
{
    for (int64_t t : {int64_t{0} + 43200, int64_t{1234567890}, int64_t{2147483647} + 86400 * 30,
                      int64_t{-2000000000}, int64_t{32503680000}}) {
        CalendarTime local;
        ASSERT_TRUE(unix_to_local(t, local)) << t;
        int64_t back = 0;
        ASSERT_TRUE(local_to_unix(local, back)) << t;
        EXPECT_EQ(back, t);
    }
    CalendarTime local;
    EXPECT_FALSE(unix_to_local(-12000000000, local));  // before 1601
}

TEST(LocalTime, InvalidFieldsAreRefused)
{
    struct Case {
        int year, month, day, hour, minute, second, millisecond;
    };
    const Case refused[] = {
        {2024, 13, 1, 0, 0, 0, 0}, {2024, 0, 1, 0, 0, 0, 0},    {2024, 4, 31, 0, 0, 0, 0},
        {2024, 1, 0, 0, 0, 0, 0},  {2024, 1, 1, 24, 0, 0, 0},   {2024, 1, 1, 0, 60, 0, 0},
        {2024, 1, 1, 0, 0, 60, 0}, {2024, 1, 1, 0, 0, 0, 1000}, {1600, 12, 31, 0, 0, 0, 0},
        {2024, 1, 1, -1, 0, 0, 0},
    };
    for (const Case& c : refused) {
        const CalendarTime local{c.year, c.month, c.day, c.hour, c.minute, c.second, c.millisecond};
        int64_t seconds = 7;
        EXPECT_FALSE(local_to_unix(local, seconds)) << c.year << "-" << c.month << "-" << c.day;
        EXPECT_EQ(seconds, 7);
    }
    const CalendarTime leap_day{2024, 2, 29, 12, 0, 0, 999};
    int64_t seconds = 0;
    EXPECT_TRUE(local_to_unix(leap_day, seconds));
}

}  // namespace
}  // namespace qv::platform
