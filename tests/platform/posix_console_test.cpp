// The console on POSIX: signals as console events, interrupted reads, the one-key wait.
#include "platform/console.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "platform/file.h"
#include "platform/thread.h"

namespace qv::platform {
namespace {

std::atomic<int> g_ctrl_c{0};
std::atomic<int> g_close{0};

bool count_event(ConsoleEvent event)
{
    (event == ConsoleEvent::ctrl_c ? g_ctrl_c : g_close).fetch_add(1);
    return true;
}

TEST(PosixConsoleSignals, EachSignalReachesTheHandlerAsItsEvent)
{
    install_console_handler(count_event);
    g_ctrl_c = 0;
    g_close = 0;
    ASSERT_EQ(::raise(SIGINT), 0);
    EXPECT_EQ(g_ctrl_c.load(), 1);
    EXPECT_EQ(g_close.load(), 0);
    ASSERT_EQ(::raise(SIGTERM), 0);
    ASSERT_EQ(::raise(SIGHUP), 0);
    EXPECT_EQ(g_close.load(), 2);
    ASSERT_EQ(::raise(SIGPIPE), 0);  // ignored: the process lives on
    EXPECT_EQ(g_ctrl_c.load() + g_close.load(), 3);
}

TEST(PosixConsoleSignals, AnEventTheHandlerDeclinesTakesTheDefaultAction)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            install_console_handler([](ConsoleEvent) { return false; });
            ::raise(SIGTERM);
            ::_exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
}

TEST(PosixConsoleSignals, CtrlCEndsABlockedPipeReadWithNoData)
{
    install_console_handler(count_event);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);  // the write end stays open and silent
    std::atomic<bool> reading{false};
    IoStatus status = IoStatus::failed;
    size_t got = 99;
    std::thread reader([&] {
        char buffer[16];
        reading = true;
        status = read_file(ends[0], buffer, sizeof buffer, got);
    });
    while (!reading) {
        sleep_ms(1);
    }
    ManualResetEvent done(false);
    std::thread waker([&] {
        // The signal may arrive just before the read blocks; keep knocking until it has ended.
        while (!done.wait(20)) {
            ::pthread_kill(reader.native_handle(), SIGINT);
        }
    });
    reader.join();
    done.set();
    waker.join();
    EXPECT_EQ(status, IoStatus::ok);
    EXPECT_EQ(got, 0u);
    ::close(ends[0]);
    ::close(ends[1]);
}

// Puts `fd` in place of standard input for the life of the object.
class StdinSwap {
public:
    explicit StdinSwap(int fd) : saved_(::dup(STDIN_FILENO)) { ::dup2(fd, STDIN_FILENO); }
    ~StdinSwap()
    {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

// Runs wait_for_key on a thread; after 200 ms writes a key to `key_fd` (when given) and sets
// `release`. True when the wait had ended before that.
bool returned_before_release(const std::atomic<int>& stop, std::atomic<int>& release, int key_fd)
{
    ManualResetEvent returned(false);
    Thread waiter;
    EXPECT_TRUE(waiter.start([&] {
        wait_for_key(stop);
        returned.set();
    }));
    const bool early = returned.wait(200);
    if (key_fd >= 0) {
        EXPECT_EQ(::write(key_fd, "k", 1), 1);
    }
    release = 1;
    EXPECT_TRUE(returned.wait(5000));
    waiter.join();
    return early;
}

TEST(PosixKeyWait, ReturnsAtOnceWhenStandardInputIsNotATerminal)
{
    const int null_fd = ::open("/dev/null", O_RDONLY);
    StdinSwap swap(null_fd);
    std::atomic<int> stop{0};
    EXPECT_TRUE(returned_before_release(stop, stop, -1));
    ::close(null_fd);
}

TEST(PosixKeyWait, TakesOneKeyFromATerminalAndRestoresItsMode)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    {
        StdinSwap swap(terminal);
        std::atomic<int> stop{0};
        std::atomic<int> unused{0};
        EXPECT_FALSE(returned_before_release(stop, unused, master));  // the key ends the wait
        EXPECT_FALSE(returned_before_release(stop, stop, -1));  // the key was taken; stop ends it
    }
    termios mode {};
    ASSERT_EQ(::tcgetattr(terminal, &mode), 0);
    EXPECT_NE(mode.c_lflag & ICANON, 0u);
    EXPECT_NE(mode.c_lflag & ECHO, 0u);
    ::close(terminal);
    ::close(master);
}

}  // namespace
}  // namespace qv::platform
