// The console and the thread primitives on Windows: control events as the handler sees them, the
// one-key wait on redirected input, and events that belong to one object only.
#include "platform/console.h"

#include <windows.h>

#include <atomic>
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/win32/console_events.h"

namespace qv::platform {
namespace {

std::atomic<int> g_ctrl_c{0};
std::atomic<int> g_close{0};
std::atomic<bool> g_accept{true};

bool record_event(ConsoleEvent event)
{
    (event == ConsoleEvent::ctrl_c ? g_ctrl_c : g_close).fetch_add(1);
    return g_accept.load();
}

class Win32ConsoleEvents : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_ctrl_c = 0;
        g_close = 0;
        g_accept = true;
        install_console_handler(record_event);
    }
};

TEST_F(Win32ConsoleEvents, CtrlCAndCloseReachTheHandlerOtherEventsDoNot)
{
    EXPECT_TRUE(win32::dispatch_console_event(CTRL_C_EVENT, 0));
    EXPECT_TRUE(win32::dispatch_console_event(CTRL_CLOSE_EVENT, 0));
    EXPECT_FALSE(win32::dispatch_console_event(CTRL_BREAK_EVENT, 0));
    EXPECT_FALSE(win32::dispatch_console_event(CTRL_LOGOFF_EVENT, 0));
    EXPECT_FALSE(win32::dispatch_console_event(CTRL_SHUTDOWN_EVENT, 0));
    EXPECT_EQ(g_ctrl_c.load(), 1);
    EXPECT_EQ(g_close.load(), 1);
}

TEST_F(Win32ConsoleEvents, AHandledCloseHoldsTheProcessForTheGraceButCtrlCReturnsAtOnce)
{
    uint32_t start = tick_count_ms();
    EXPECT_TRUE(win32::dispatch_console_event(CTRL_CLOSE_EVENT, 300));
    EXPECT_GE(tick_count_ms() - start, 250u);

    start = tick_count_ms();
    EXPECT_TRUE(win32::dispatch_console_event(CTRL_C_EVENT, 300));
    EXPECT_LT(tick_count_ms() - start, 250u);

    // A declined close goes to the system's default handling without delay.
    g_accept = false;
    start = tick_count_ms();
    EXPECT_FALSE(win32::dispatch_console_event(CTRL_CLOSE_EVENT, 300));
    EXPECT_LT(tick_count_ms() - start, 250u);
    EXPECT_EQ(g_close.load(), 2);
    EXPECT_GE(win32::kCloseGraceMs, 1000u);
    EXPECT_LT(win32::kCloseGraceMs, 5000u);  // Windows ends the process after five seconds
}

TEST(Win32KeyWait, ReturnsAtOnceWhenStandardInputIsNotAConsole)
{
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
        GTEST_SKIP() << "standard input is a console here";
    }
    const std::atomic<int> never_stop{0};
    const uint32_t start = tick_count_ms();
    wait_for_key(never_stop);
    EXPECT_LT(tick_count_ms() - start, 1000u);
}

TEST(Win32Events, EachEventIsItsOwnObject)
{
    // Events of the same role in two workers (or two runs of the program) must never share a
    // kernel object, as named events would.
    ManualResetEvent first(false);
    ManualResetEvent second(false);
    first.set();
    EXPECT_TRUE(first.wait(0));
    EXPECT_FALSE(second.wait(0));
    second.set();
    first.reset();
    EXPECT_FALSE(first.wait(0));
    EXPECT_TRUE(second.wait(0));
}

TEST(Win32Threads, ASecondStartBeforeJoinIsRefusedAndRunningEndsWithTheBody)
{
    ManualResetEvent release(false);
    Thread thread;
    ASSERT_TRUE(thread.start([&release] { release.wait(); }));
    EXPECT_TRUE(thread.running());
    EXPECT_FALSE(thread.start([] {}));
    release.set();
    thread.join();
    EXPECT_FALSE(thread.running());
    ASSERT_TRUE(thread.start([] {}));  // after the join the object takes a new thread
    thread.join();
}

}  // namespace
}  // namespace qv::platform
