#include "app/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console_output.h"

namespace qv {
namespace {

struct ProgramRun {
    int exit_code = 0;
    std::vector<std::string> passes;
    std::string out;
};

/// Runs the program with a stand-in pass that records its source and counts `per_pass`.
ProgramRun run_with(std::vector<std::string> arguments, int32_t per_pass,
                    bool stream_to_stdout = false)
{
    arguments.insert(arguments.begin(), "quilvaren");
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    ProgramRun run;
    ::testing::internal::CaptureStdout();
    run.exit_code = run_program(static_cast<int>(argv.size()), argv.data(), [&](RunConfig& config) {
        run.passes.push_back(config.source_path);
        config.log_path = "changed";  // restored after the pass
        if (stream_to_stdout) {
            console_flags = 0;  // as a worker whose output is "CON" does
        }
        return per_pass;
    });
    run.out = ::testing::internal::GetCapturedStdout();
    stop_requested = 0;  // cleanup sets it; the next test starts afresh
    console_flags = kConsoleTextOn;
    console_on_stderr = false;  // a run that streamed to standard output set it for good
    return run;
}

TEST(Passes, ExitCodeIsTheSumOfThePasses)
{
    ProgramRun run = run_with({"a.ts", "b.ts"}, 3);
    EXPECT_EQ(run.passes, (std::vector<std::string>{"a.ts", "b.ts"}));
    EXPECT_EQ(run.exit_code, 6);
}

TEST(Passes, LoopNRunsNCycles)
{
    ProgramRun run = run_with({"-loop3", "a.ts", "b.ts"}, 1);
    EXPECT_EQ(run.passes.size(), 6u);
    EXPECT_EQ(run.exit_code, 6);
}

TEST(Passes, EndlessLoopEndsOnAStopRequest)
{
    int passes = 0;
    RunConfig config;
    config.source_list = {"a.ts"};
    config.loop_enabled = true;
    int32_t total = run_cycles(config, [&](RunConfig&) {
        if (++passes == 5) {
            stop_requested = 1;
        }
        return 2;
    });
    stop_requested = 0;
    EXPECT_EQ(passes, 5);
    EXPECT_EQ(total, 10);
}

TEST(Passes, EndlessLoopWithoutASourceEnds)
{
    RunConfig config;
    config.loop_enabled = true;
    int passes = 0;
    EXPECT_EQ(run_cycles(config, [&](RunConfig&) { return ++passes; }), 0);
    EXPECT_EQ(passes, 0);
}

TEST(Passes, LogPathAndConsoleFlagsAreRestoredAfterEachPass)
{
    RunConfig config;
    config.source_list = {"a.ts", "b.ts"};
    config.log_path = "x.log";
    std::vector<std::string> seen;
    (void)run_cycles(config, [&](RunConfig& c) {
        seen.push_back(c.log_path);
        c.log_path = "a.qv.log";
        console_flags = 0;
        return 0;
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"x.log", "x.log"}));
    EXPECT_EQ(config.log_path, "x.log");
    EXPECT_EQ(console_flags.load(), kConsoleTextOn);
}

TEST(Passes, DetailPrintsTheExitLine)
{
    ProgramRun run = run_with({"-detail", "a.ts"}, 7);
    EXPECT_EQ(run.exit_code, 7);
    EXPECT_EQ(run.out, "－ 終了します. ( 戻り値 : 7 )\n");
}

TEST(Passes, ExitLineStaysOutOfAStreamWrittenToStandardOutput)
{
    ProgramRun run = run_with({"-detail", "-mode", "extract", "a.ts", "-cappath", "CON"}, 4, true);
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_EQ(run.out, "");
}

TEST(Passes, ProcessIdLineComesFirstAndNoSourceRunsNoPass)
{
    ProgramRun run = run_with({"-pid"}, 1);
    EXPECT_TRUE(run.passes.empty());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out.rfind("－ プロセスID ", 0), 0u);
    EXPECT_EQ(run.out.back(), '\n');  // "\r\n" (a text-mode capture keeps only "\n")
}

}  // namespace
}  // namespace qv
