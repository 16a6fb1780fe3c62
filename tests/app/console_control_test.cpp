#include "app/console_control.h"

#include <gtest/gtest.h>

#include "base/console_output.h"

namespace qv {
namespace {

TEST(ConsoleControl, ProgressHeldBackFromBeforeACtrlCNeverFollowsItsNotice)
{
    console_flags = kConsoleTextOn;
    line_closed = true;
    ::testing::internal::CaptureStdout();
    print_status_line("－ 10 %\r");  // held back with the next one
    print_status_line("－ 20 %\r");
    EXPECT_TRUE(console_ctrl_handler(platform::ConsoleEvent::ctrl_c));
    EXPECT_EQ(stop_requested.load(), 1);
    EXPECT_EQ(stop_reason.load(), 1);
    EXPECT_TRUE(line_closed.load());
    flush_status_lines();
    print_status_line("－ 30 %\r");  // after the notice: shown
    flush_status_lines();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "－ CTRL+Cが押されました\n－ 30 %\r");
    stop_requested = 0;
    stop_reason = 0;
    line_closed = true;
}

}  // namespace
}  // namespace qv
