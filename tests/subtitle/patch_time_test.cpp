#include "subtitle/patch_time.h"

#include <gtest/gtest.h>

#include <string>

#include "base/time_convert.h"
#include "platform/scratch_directory.h"

namespace qv {
namespace {

constexpr int64_t kSecond = 90000;

int64_t local_seconds(int year, int month, int day, int hour, int minute, int second)
{
    platform::CalendarTime local;
    local.year = year;
    local.month = month;
    local.day = day;
    local.hour = hour;
    local.minute = minute;
    local.second = second;
    int64_t seconds = 0;
    EXPECT_TRUE(local_time_to_unix(local, seconds));
    return seconds;
}

TEST(PatchTimeLine, LayoutDigitsAndFoldedFields)
{
    struct Case {
        std::string line;
        bool entry;
        int64_t wall_clock;
        int64_t stream_seconds;
    };
    const int64_t noon = local_seconds(2024, 5, 6, 12, 34, 56);
    const Case cases[] = {
        {"<><><><><>PATCHTIME;20240506123456:01234", true, noon, 12 * 60 + 34},
        {"<><><><><>PATCHTIME;20240506123456:1230405", true, noon, 123 * 3600 + 4 * 60 + 5},
        {"<><><><><>PATCHTIME;20241399246060:00010", true, local_seconds(2024, 1, 1, 0, 0, 0), 10},
        {"<><><><><>PATCHTIME;20240000000000:00010", true, local_seconds(2024, 1, 1, 0, 0, 0),
         10},  // a month or day of 0 counts as 1
        {"<><><><><>PATCHTIME;2024050612345 :00010", false, 0, 0},  // 13 digits
        {"<><><><><>PATCHTIME; 2024050612345:00010", false, 0, 0},
        {"<><><><><>PATCHTIME;20240231000000:00010", false, 0, 0},  // no such day
        {"<><><><><>PATCHTIME;20240506123456:0010", false, 0, 0},   // 39 bytes
        {"<><><><><>PATCHTIME;20240506123456-00010", false, 0, 0},
        {"<><><><><>patchtime;20240506123456:00010", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        int64_t wall_clock = -1;
        int64_t stream_seconds = -1;
        ASSERT_EQ(parse_patch_time_line(c.line, wall_clock, stream_seconds), c.entry);
        if (c.entry) {
            EXPECT_EQ(wall_clock, c.wall_clock);
            EXPECT_EQ(stream_seconds, c.stream_seconds);
        }
    }
}

TEST(PatchTimeFile, TwoEntriesMapTwoSegments)
{
    test::ScratchDirectory scratch;
    const std::string path = scratch.file("show.patchtime.txt");
    ASSERT_TRUE(test::write_new_file(path,
                                     "comment line\r\n"
                                     "<><><><><>PATCHTIME;20240506120000:00010\r\n"
                                     "<><><><><>PATCHTIME;2024050612100:x\r\n"
                                     "<><><><><>PATCHTIME;20240506121000:03000"));
    std::vector<PatchTimeEntry> table;
    EXPECT_EQ(read_patch_time_file(table, path), 2u);
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table[1].relative_seconds, 600);
    EXPECT_EQ(table[1].source_ticks, 600 * kSecond);
    EXPECT_EQ(table[1].target_ticks, 1800 * kSecond);
    EXPECT_EQ(lookup_patch_time(table, 0), 10 * kSecond);
    EXPECT_EQ(lookup_patch_time(table, 599 * kSecond), 609 * kSecond);
    EXPECT_EQ(lookup_patch_time(table, 600 * kSecond), 1800 * kSecond);
    EXPECT_EQ(lookup_patch_time(table, 700 * kSecond), 1900 * kSecond);
    EXPECT_EQ(lookup_patch_time(table, -1), kNoPatchTime);
    EXPECT_EQ(lookup_patch_time({}, 0), kNoPatchTime);
    EXPECT_EQ(read_patch_time_file(table, scratch.file("missing.txt")), 0u);
    EXPECT_EQ(read_patch_time_file(table, ""), 0u);
}

TEST(PatchTimeLookup, StopsAtTheFirstEntryBeyondAMatch)
{
    // The third entry lies before the second: it is never reached once the second fails.
    const std::vector<PatchTimeEntry> table = {
        {0, 0, 0, 100, 0}, {0, 0, 0, 5000, 1000}, {0, 0, 0, 9000, 500}};
    EXPECT_EQ(lookup_patch_time(table, 800), 900);
    EXPECT_EQ(lookup_patch_time(table, 1200), 9700);  // all three match; the last wins
}

}  // namespace
}  // namespace qv
