#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/environment.h"

#include <string>
#include <vector>

namespace qv {
namespace {

RunConfig scan(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "quilvaren");
    std::vector<const char*> argv;
    for (const auto& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    RunConfig config;
    scan_arguments(config, static_cast<int>(argv.size()), argv.data());
    return config;
}

using Sources = std::vector<std::string>;

TEST(ArgumentScan, BareArgumentsAreSourcesInOrder)
{
    RunConfig config = scan({"a.ts", "-srcpath", "b.ts", "", "c.ts"});
    EXPECT_EQ(config.source_list, (Sources{"a.ts", "b.ts", "c.ts"}));
    EXPECT_EQ(config.mode, RunMode::display);
}

TEST(ArgumentScan, AbsolutePathIsASourceNotAnOption)
{
    if (platform::path_separator() != '/') {
        GTEST_SKIP() << "'/' introduces options where it does not separate paths";
    }
    RunConfig config = scan({"/home/me/rec.ts"});
    EXPECT_EQ(config.source_list, (Sources{"/home/me/rec.ts"}));
}

struct ModeCase {
    std::vector<std::string> arguments;
    RunMode expected;
};

TEST(ArgumentScan, ModeValuesMatchByPrefixIgnoringCaseAndTheLastMatchWins)
{
    const ModeCase cases[] = {
        {{"-mode", "EXTRACT", "a.ts"}, RunMode::extract},
        {{"-mode", "disaply", "a.ts"}, RunMode::display},
        {{"-mode", "extract", "-mode", "disaply"}, RunMode::extract},
        {{"-MODE", "filterXYZ"}, RunMode::filter},
        {{"-modeX", "merge"}, RunMode::merge},
        {{"-mode", "convert"}, RunMode::convert},
        {{"-mode", "thr"}, RunMode::display},
        {{"-m", "extract"}, RunMode::display},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scan(c.arguments).mode, c.expected) << c.arguments[1];
    }
}

TEST(ArgumentScan, LogpathAlsoEnablesLoggingAndTakesTheNextArgument)
{
    RunConfig config = scan({"-logpath", "x.log", "a.ts"});
    EXPECT_TRUE(config.log_enabled);
    EXPECT_EQ(config.log_path, "x.log");
    EXPECT_EQ(config.source_list, (Sources{"a.ts"}));
}

TEST(ArgumentScan, PiddefIsNotAlsoTakenForPid)
{
    RunConfig config = scan({"-piddef", "0x130", "-mode", "convert", "sub.srt"});
    EXPECT_EQ(config.piddef_spec, "0x130");
    EXPECT_FALSE(config.show_process_id);
    EXPECT_EQ(config.mode, RunMode::convert);
    EXPECT_EQ(config.source_list, (Sources{"sub.srt"}));
    EXPECT_TRUE(scan({"-PID"}).show_process_id);
}

TEST(ArgumentScan, LoopCountComesOnlyFromTheSameArgument)
{
    RunConfig two = scan({"-loop2", "a.ts"});
    EXPECT_TRUE(two.loop_enabled);
    EXPECT_EQ(two.loop_count, 2);
    RunConfig endless = scan({"-loop", "2", "a.ts"});
    EXPECT_EQ(endless.loop_count, 0);
    EXPECT_EQ(endless.source_list, (Sources{"2", "a.ts"}));
}

TEST(ArgumentScan, DiscardedValuesAreNotSources)
{
    RunConfig config = scan({"-wsize", "640x360", "-wcaption", "x", "-rwcntdrop", "y",
                             "-rwcntundrop", "z", "-patchtime", "w", "a.ts"});
    EXPECT_EQ(config.source_list, (Sources{"a.ts"}));
    EXPECT_EQ(config.window_width, 640);
    EXPECT_EQ(config.window_height, 360);
    RunConfig no_x = scan({"-wsize", "640X360"});
    EXPECT_EQ(no_x.window_width, -1);
}

TEST(ArgumentScan, ValueKeywordAtTheEndHasNoEffect)
{
    RunConfig config = scan({"a.ts", "-cappath"});
    EXPECT_TRUE(config.cap_path.empty());
    EXPECT_EQ(config.source_list, (Sources{"a.ts"}));
}

TEST(ArgumentScan, FlagAfterValueKeywordCancelsThePendingValue)
{
    RunConfig config = scan({"-cappath", "-detail", "a.ts"});
    EXPECT_TRUE(config.cap_path.empty());
    EXPECT_TRUE(config.detail);
    EXPECT_EQ(config.source_list, (Sources{"a.ts"}));
    RunConfig unknown = scan({"-cappath", "-bogus", "b.ts"});
    EXPECT_TRUE(unknown.cap_path.empty());
    EXPECT_EQ(unknown.source_list, (Sources{"b.ts"}));
}

TEST(ArgumentScan, EveryFlagAndValueLandsInItsField)
{
    RunConfig c = scan({"-cappath", "c.ts", "-mergepath", "m.ts", "-throughpath", "t.ts",
                        "-filterpath", "f.ts", "-sync", "-capstr", "-detail", "-bufsize", " -12x",
                        "-duration", "0:10-0:20", "-capmergepatch", "9000000000", "-dump", "pmt",
                        "-paramhex", "ab", "-sdt", "-eit", "-tot", "-pause", "-drop",
                        "-wraparound", "-noprogress", "-nodel", "-tvtppath", "p.dll",
                        "-tvtppath", "p.dll", "-tvtppath", "P.dll"});
    EXPECT_EQ(c.cap_path, "c.ts");
    EXPECT_EQ(c.merge_path, "m.ts");
    EXPECT_EQ(c.through_path, "t.ts");
    EXPECT_EQ(c.filter_path, "f.ts");
    EXPECT_TRUE(c.sync && c.caption_by_text && c.detail);
    EXPECT_EQ(c.buffer_size, -12);
    EXPECT_EQ(c.duration_spec, "0:10-0:20");
    EXPECT_EQ(c.capmerge_patch, 9000000000LL);
    EXPECT_EQ(c.dump_spec, "pmt");
    EXPECT_EQ(c.paramhex_spec, "ab");
    EXPECT_TRUE(c.keep_sdt && c.keep_eit && c.keep_tot && c.pause_at_start && c.report_drops);
    EXPECT_TRUE(c.report_wraparound && c.no_progress && c.no_delete);
    ASSERT_EQ(c.plugin_host.size(), 2u);
    EXPECT_EQ(c.plugin_host[0].plugin_path, "p.dll");
    EXPECT_EQ(c.plugin_host[1].plugin_path, "P.dll");
    EXPECT_TRUE(c.source_list.empty());
}

TEST(ArgumentScan, LaterPathsReplaceEarlierOnes)
{
    RunConfig config = scan({"-cappath", "one.ts", "-cappath", "two.ts"});
    EXPECT_EQ(config.cap_path, "two.ts");
}

}  // namespace
}  // namespace qv
