#include "channels_file.h"

#include <gtest/gtest.h>

namespace standin {
namespace {

#if defined(_WIN32)
const char* const kBase = "C:\\tuners";
const char* const kInBase = "C:\\tuners\\";
const char* const kAbsolute = "D:\\streams\\a.ts";
#else
const char* const kBase = "/opt/tuners";
const char* const kInBase = "/opt/tuners/";
const char* const kAbsolute = "/srv/streams/a.ts";
#endif

TEST(ChannelList, ReadsEachLineIntoAnEntry)
{
    struct Case {
        std::string line;
        uint32_t space;
        uint32_t channel;
        std::string path;
        Pace pace;
        double speed;
        bool loop;
    };
    const Case cases[] = {
        {"0 13 a.ts", 0, 13, std::string(kInBase) + "a.ts", Pace::realtime, 1.0, false},
        {"  1\t2 a.ts realtime loop  # news", 1, 2, std::string(kInBase) + "a.ts", Pace::realtime,
         1.0, true},
        {"0 1 a.ts x8", 0, 1, std::string(kInBase) + "a.ts", Pace::times, 8.0, false},
        {"0 1 a.ts loop x0.5", 0, 1, std::string(kInBase) + "a.ts", Pace::times, 0.5, true},
        {"0 1 a.ts fast", 0, 1, std::string(kInBase) + "a.ts", Pace::fast, 1.0, false},
        {"0 1 \"my streams/b c.ts\" x2", 0, 1, std::string(kInBase) + "my streams/b c.ts",
         Pace::times, 2.0, false},
        {std::string("4294967295 7 ") + kAbsolute, 4294967295u, 7, kAbsolute, Pace::realtime, 1.0,
         false},
        {"0 1 a.ts#comment", 0, 1, std::string(kInBase) + "a.ts", Pace::realtime, 1.0, false},
    };
    for (const Case& c : cases) {
        const ChannelList list = parse_channels(c.line + "\r\n", kBase);
        ASSERT_TRUE(list.errors.empty()) << c.line << ": " << list.errors.front();
        ASSERT_EQ(list.channels.size(), 1u) << c.line;
        const ChannelEntry& entry = list.channels.front();
        EXPECT_EQ(entry.space, c.space) << c.line;
        EXPECT_EQ(entry.channel, c.channel) << c.line;
        EXPECT_EQ(entry.path, c.path) << c.line;
        EXPECT_EQ(entry.pace, c.pace) << c.line;
        EXPECT_DOUBLE_EQ(entry.speed, c.speed) << c.line;
        EXPECT_EQ(entry.loop, c.loop) << c.line;
    }
}

TEST(ChannelList, LeavesOutBadLinesAndSaysWhy)
{
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"0 13", "line 2: expected SPACE CHANNEL PATH"},
        {"a 13 x.ts", "line 2: tuning space is not a number: a"},
        {"0 -1 x.ts", "line 2: channel is not a number: -1"},
        {"0 4294967296 x.ts", "line 2: channel is not a number: 4294967296"},
        {"0 1 \"x.ts", "line 2: quote not closed"},
        {"0 1 x.ts x0", "line 2: unexpected word: x0"},
        {"0 1 x.ts x8 fast", "line 2: unexpected word: fast"},
        {"0 1 x.ts loop loop", "line 2: unexpected word: loop"},
        {"0 1 x.ts slow", "line 2: unexpected word: slow"},
        {"0 1 y.ts", "line 2: space 0 channel 1 is listed twice"},
    };
    for (const Case& c : cases) {
        const ChannelList list = parse_channels(std::string("0 1 first.ts\n") + c.line, kBase);
        ASSERT_EQ(list.channels.size(), 1u) << c.line;  // the good first line only
        ASSERT_EQ(list.errors.size(), 1u) << c.line;
        EXPECT_EQ(list.errors.front(), c.error);
    }
}

TEST(ChannelList, FindsEntriesBySpaceAndChannel)
{
    const ChannelList list = parse_channels("# two\n\n0 1 a.ts\n1 1 b.ts\n", kBase);
    ASSERT_EQ(list.channels.size(), 2u);
    EXPECT_EQ(list.channels[1].line, 4);
    ASSERT_NE(find_channel(list, 1, 1), nullptr);
    EXPECT_EQ(find_channel(list, 1, 1)->path, std::string(kInBase) + "b.ts");
    EXPECT_EQ(find_channel(list, 0, 2), nullptr);
}

}  // namespace
}  // namespace standin
