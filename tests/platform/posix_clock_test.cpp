// Local time under explicit TZ rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace qv::platform {
namespace {

// Sets TZ for the life of the object and puts the previous rules back afterwards.
class ZoneRules {
public:
    explicit ZoneRules(const char* zone)
    {
        if (const char* previous = std::getenv("TZ")) {
            previous_ = previous;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneRules()
    {
        if (previous_) {
            ::setenv("TZ", previous_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::optional<std::string> previous_;
};

TEST(PosixLocalTime, JapanStandardTimeBothWays)
{
    ZoneRules tokyo("Asia/Tokyo");
    CalendarTime local;
    ASSERT_TRUE(unix_to_local(1234567890, local));
    EXPECT_EQ(local.year, 2009);
    EXPECT_EQ(local.month, 2);
    EXPECT_EQ(local.day, 14);
    EXPECT_EQ(local.hour, 8);
    EXPECT_EQ(local.minute, 31);
    EXPECT_EQ(local.second, 30);
    EXPECT_EQ(local.day_of_week, 6);  // Saturday

    const CalendarTime broadcast{2009, 2, 14, 8, 31, 30, 0, 0};  // the day of week is not read
    int64_t seconds = 0;
    ASSERT_TRUE(local_to_unix(broadcast, seconds));
    EXPECT_EQ(seconds, 1234567890);
    EXPECT_EQ(time_zone_bias_minutes(), -540);
}

TEST(PosixLocalTime, DaylightSavingTimeFollowsTheDateNotTheCurrentSeason)
{
    ZoneRules berlin("Europe/Berlin");
    int64_t summer = 0;
    int64_t winter = 0;
    ASSERT_TRUE(local_to_unix(CalendarTime{2021, 7, 1, 12, 0, 0, 0, 4}, summer));
    ASSERT_TRUE(local_to_unix(CalendarTime{2021, 1, 1, 12, 0, 0, 0, 5}, winter));
    EXPECT_EQ(summer, 1625133600);  // 10:00 UTC
    EXPECT_EQ(winter, 1609498800);  // 11:00 UTC
}

TEST(PosixLocalTime, FebruaryTwentyNinthOnlyInLeapYears)
{
    // Kept out of the shared cases: Wine's SystemTimeToFileTime takes February 29 in every year.
    int64_t seconds = 7;
    EXPECT_FALSE(local_to_unix(CalendarTime{2023, 2, 29, 12, 0, 0, 0, 3}, seconds));
    EXPECT_FALSE(local_to_unix(CalendarTime{1900, 2, 29, 12, 0, 0, 0, 3}, seconds));
    EXPECT_EQ(seconds, 7);
    EXPECT_TRUE(local_to_unix(CalendarTime{2000, 2, 29, 12, 0, 0, 0, 2}, seconds));
}

}  // namespace
}  // namespace qv::platform
