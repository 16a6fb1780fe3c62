#include "base/console_output.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/environment.h"
#include "platform/file.h"
#include "support/test_data.h"

namespace qv {
namespace {

/// Points the log at a fresh file, restores the console and log state afterwards.
class LogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = test::unique_temp_path("qv_console_output_test", ".log");
        (void)platform::delete_file(path_);
        set_log_file(path_);
        log_active = kLogOn;
    }
    void TearDown() override
    {
        log_active = 0;
        set_log_file("");
        console_flags = kConsoleTextOn;
        line_closed = true;
        (void)platform::delete_file(path_);
    }
    std::string log_text() const
    {
        auto bytes = test::read_whole_file(path_);
        return {bytes.begin(), bytes.end()};
    }

    std::string path_;
};

TEST_F(LogFixture, LineEndsAreCompletedWithCrLf)
{
    console_flags = 0;
    print_message(260, "status %d\r", 1);
    print_message(260, "line\n");
    print_message(260, "bare");
    print_message(260, "%s", "");
    EXPECT_EQ(log_text(), "status 1\r\r\nline\nbare\r\n");
}

TEST_F(LogFixture, ConsoleSilentWhileBit31IsClearAndTheLogStillReceives)
{
    console_flags = kNoProgress;
    ::testing::internal::CaptureStdout();
    print_message(520, "－ 書き込み %s\n", "out.ts");
    close_status_line();
    print_status_line("－ 50 %\r");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(log_text(), "－ 書き込み out.ts\n");
}

TEST_F(LogFixture, LongMessagesAreNeverCut)
{
    console_flags = 0;
    std::string long_path(5000, 'p');
    print_message(520, "－ ファイルがありません %s\n", long_path.c_str());
    EXPECT_EQ(log_text(), "－ ファイルがありません " + long_path + "\n");
}

TEST_F(LogFixture, ConcurrentAppendsNeitherLoseNorInterleave)
{
    console_flags = 0;
    auto writer = [](char tag) {
        for (int i = 0; i < 1000; ++i) {
            print_message(260, "%c%04d-%s\n", tag, i, std::string(40, tag).c_str());
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    std::istringstream lines(log_text());
    std::map<char, int> next{{'a', 0}, {'b', 0}};
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.size(), 46u) << line;
        char tag = line[0];
        ASSERT_EQ(line.substr(5), "-" + std::string(40, tag));
        EXPECT_EQ(std::stoi(line.substr(1, 4)), next[tag]++);
        ++count;
    }
    EXPECT_EQ(count, 2000);
}

TEST(ProgressLine, ClosedOnlyWhenOpenAndVisible)
{
    console_flags = kConsoleTextOn;
    line_closed = true;
    ::testing::internal::CaptureStdout();
    close_status_line();                    // nothing open: nothing printed
    print_status_line("－ 10 %\r");
    EXPECT_FALSE(line_closed.load());
    close_status_line();
    EXPECT_TRUE(line_closed.load());
    console_flags = kConsoleTextOn | kNoProgress;
    print_status_line("－ 20 %\r");        // progress switched off
    // Windows captures standard output in text mode, which folds the closing "\r\n" to "\n".
    const bool text_mode_capture = platform::path_separator() == '\\';
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              text_mode_capture ? "－ 10 %\r\n" : "－ 10 %\r\r\n");
    console_flags = kConsoleTextOn;
}

}  // namespace
}  // namespace qv
