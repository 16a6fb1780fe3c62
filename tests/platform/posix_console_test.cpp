// The console on POSIX: signals as console events, interrupted reads, the one-key wait.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/scratch_directory.h"
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

// Reads from `source` on a worker thread while this thread takes a Ctrl+C; true when the read
// came back empty within two seconds.
bool ctrl_c_on_another_thread_ends_read(NativeHandle source)
{
    install_console_handler(count_event);
    ManualResetEvent returned(false);
    IoStatus status = IoStatus::failed;
    size_t got = 99;
    Thread reader;
    EXPECT_TRUE(reader.start([&] {
        char buffer[16];
        status = read_file(source, buffer, sizeof buffer, got);
        returned.set();
    }));
    const bool early = returned.wait(150);
    ::raise(SIGINT);  // handled on this thread, as a process-directed signal usually is
    const bool ended = returned.wait(2000);
    reader.join();  // a failed wait hangs here: the read did not end
    return !early && ended && status == IoStatus::ok && got == 0;
}

TEST(PosixConsoleSignals, CtrlCEndsAReadThatWaitsForAPipeWriterOrForData)
{
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe(ends), 0);  // the write end stays open and silent
    EXPECT_TRUE(ctrl_c_on_another_thread_ends_read(ends[0]));
    ::close(ends[0]);
    ::close(ends[1]);

    test::ScratchDirectory scratch;
    const std::string path = scratch.file("in");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    NativeHandle source = open_for_reading(path);  // no writer yet: the open does not wait
    ASSERT_NE(source, kClosedHandle);
    EXPECT_TRUE(ctrl_c_on_another_thread_ends_read(source));
    close_handle(source);
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
    termios mode{};
    ASSERT_EQ(::tcgetattr(terminal, &mode), 0);
    EXPECT_NE(mode.c_lflag & ICANON, 0u);
    EXPECT_NE(mode.c_lflag & ECHO, 0u);
    ::close(terminal);
    ::close(master);
}

}  // namespace
}  // namespace qv::platform
