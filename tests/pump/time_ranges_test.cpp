#include "pump/time_ranges.h"

#include <gtest/gtest.h>

#include <vector>

namespace qv {
namespace {

constexpr uint64_t kSecond = 90000;

std::vector<TimeRange> read_all(std::string_view text)
{
    TimeRangeCursor cursor;
    cursor.text = text;
    std::vector<TimeRange> ranges;
    do {
        TimeRange range;
        parse_time_ranges(cursor, range);
        ranges.push_back(range);
    } while (cursor.more && ranges.size() < 16);
    return ranges;
}

TEST(RangeTimeFields, FieldCountDecidesTheUnits)
{
    struct Case {
        const char* text;
        uint64_t ticks;
    };
    const Case cases[] = {
        {"10", 10 * kSecond},                                   // seconds alone
        {"1:30", (3600 + 30 * 60) * kSecond},                   // one colon: hours and minutes
        {"0:0:5", 5 * kSecond},                                 // h:m:s
        {"1:2:3:4", (3600 + 120 + 3) * kSecond + 4 * 90},       // fourth field: milliseconds
        {"0:0:5.250", 5 * kSecond + 250 * 90},                  // "." before the milliseconds
        {"", 0},
        {":5", 5 * 60 * kSecond},                               // empty field counts 0
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_range_time(c.text), c.ticks) << c.text;
    }
}

TEST(RangeTimeFields, FieldsAreSixteenBitDecimalsEndedByAnyOtherCharacter)
{
    EXPECT_EQ(parse_range_time("65537"), 1 * kSecond);  // kept as an unsigned 16-bit value
    EXPECT_EQ(parse_range_time("12x"), 12 * kSecond);
    EXPECT_EQ(parse_range_time("x"), 0u);
}

TEST(RangeItems, EveryItemFormGivesItsBounds)
{
    struct Case {
        const char* text;
        uint64_t start;
        uint64_t end;
    };
    const Case cases[] = {
        {"10", 0, 10 * kSecond},
        {"0:10-0:20", 600 * kSecond, 1200 * kSecond},
        {"0:0:5-", 5 * kSecond, kRangeOpenEnd},
        {"-30", 0, 30 * kSecond},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        const auto ranges = read_all(c.text);
        ASSERT_EQ(ranges.size(), 1u) << c.text;
        EXPECT_EQ(ranges[0].start, c.start) << c.text;
        EXPECT_EQ(ranges[0].end, c.end) << c.text;
    }
}

TEST(RangeItems, EachCallConsumesOneItemAndTheLastClearsMore)
{
    TimeRangeCursor cursor;
    cursor.text = "0:0:0-0:0:10,0:1:0-0:1:10";
    TimeRange range;
    parse_time_ranges(cursor, range);
    EXPECT_TRUE(cursor.more);
    EXPECT_EQ(range.end, 10 * kSecond);
    parse_time_ranges(cursor, range);
    EXPECT_FALSE(cursor.more);
    EXPECT_EQ(range.start, 60 * kSecond);
    EXPECT_EQ(range.end, 70 * kSecond);
    // Past the end a call yields the whole stream and stays exhausted.
    parse_time_ranges(cursor, range);
    EXPECT_FALSE(cursor.more);
    EXPECT_EQ(range.start, 0u);
    EXPECT_EQ(range.end, kRangeOpenEnd);
}

TEST(RangeItems, TrailingCommaLeavesAnEmptyLastItem)
{
    const auto ranges = read_all("5,");
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ(ranges[0].end, 5 * kSecond);
    EXPECT_EQ(ranges[1].start, 0u);
    EXPECT_EQ(ranges[1].end, 0u);
}

}  // namespace
}  // namespace qv
