#include "app/default_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <fstream>

#include "support/run_program.h"

namespace qv {
namespace {

class DefaultPaths : public ::testing::Test {
protected:
    void SetUp() override { dir_ = test::make_scratch_directory("paths"); }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    void touch(const std::string& name) { std::ofstream(dir_ + name) << "x"; }
    RunConfig config_for(RunMode mode)
    {
        RunConfig config;
        config.mode = mode;
        return config;
    }
    std::string dir_;
};

TEST_F(DefaultPaths, EachModeNamesItsOutputBesideTheSource)
{
    struct Case {
        RunMode mode;
        const char* source;
        std::string RunConfig::*field;
        const char* expected;
    };
    const Case cases[] = {
        {RunMode::extract, "rec.ts", &RunConfig::cap_path, "rec.X.ts"},
        {RunMode::extract, "rec.m2ts", &RunConfig::cap_path, "rec.X.m2ts"},
        {RunMode::convert, "sub.ass", &RunConfig::cap_path, "sub.X.ts"},
        {RunMode::merge, "rec.ts", &RunConfig::merge_path, "rec.XMerge.ts"},
        {RunMode::through, "rec.ts", &RunConfig::through_path, "rec.XThrough.ts"},
        {RunMode::filter, "rec.ts", &RunConfig::filter_path, "rec.XFilter.ts"},
    };
    for (const Case& c : cases) {
        RunConfig config = config_for(c.mode);
        apply_default_paths(config, dir_ + c.source, "X");
        EXPECT_EQ(config.*c.field, dir_ + c.expected) << c.source;
    }
}

TEST_F(DefaultPaths, GivenPathsAndDisplayModeStayAsTheyAre)
{
    RunConfig config = config_for(RunMode::extract);
    config.cap_path = "mine.ts";
    apply_default_paths(config, dir_ + "rec.ts", "X");
    EXPECT_EQ(config.cap_path, "mine.ts");

    RunConfig display = config_for(RunMode::display);
    apply_default_paths(display, dir_ + "rec.ts", "X");
    EXPECT_TRUE(display.cap_path.empty());
    EXPECT_TRUE(display.log_path.empty());
}

TEST_F(DefaultPaths, LogIsNamedOnlyWhenLoggingIsOn)
{
    RunConfig config = config_for(RunMode::extract);
    config.log_enabled = true;
    apply_default_paths(config, dir_ + "rec.ts", "X");
    EXPECT_EQ(config.log_path, dir_ + "rec.X.log");
}

TEST_F(DefaultPaths, MergeFallsBackToTheNameCutAtItsLastDot)
{
    RunConfig config = config_for(RunMode::merge);
    apply_default_paths(config, dir_ + "rec.cut.ts", "X");
    EXPECT_EQ(config.cap_path, dir_ + "rec.X.ts");

    touch("rec.cut.X.ts");
    RunConfig own = config_for(RunMode::merge);
    apply_default_paths(own, dir_ + "rec.cut.ts", "X");
    EXPECT_EQ(own.cap_path, dir_ + "rec.cut.X.ts");

    RunConfig plain = config_for(RunMode::merge);
    apply_default_paths(plain, dir_ + "rec.ts", "X");
    EXPECT_EQ(plain.cap_path, dir_ + "rec.X.ts");  // no dot to cut: the name stays
}

TEST_F(DefaultPaths, FilterOfAMergedStreamGivesBackTheOriginalNameWhenFree)
{
    RunConfig config = config_for(RunMode::filter);
    apply_default_paths(config, dir_ + "rec.XMerge.ts", "X");
    EXPECT_EQ(config.filter_path, dir_ + "rec.ts");

    touch("rec.ts");
    RunConfig taken = config_for(RunMode::filter);
    apply_default_paths(taken, dir_ + "rec.XMerge.ts", "X");
    EXPECT_EQ(taken.filter_path, dir_ + "rec.XMerge.XFilter.ts");

    // The ending must follow at least one character of the name.
    RunConfig bare = config_for(RunMode::filter);
    apply_default_paths(bare, dir_ + ".XMerge.ts", "X");
    EXPECT_EQ(bare.filter_path, dir_ + ".XMerge.XFilter.ts");
}

}  // namespace
}  // namespace qv
