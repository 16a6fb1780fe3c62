// The console on POSIX: write(2) for output, signals for Ctrl+C and closing, a raw terminal for
// the one-key wait.
#include "platform/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/posix/console_events.h"

namespace qv::platform {

namespace {

std::atomic<ConsoleEventHandler> g_handler{nullptr};
std::atomic<uint32_t> g_accepted_events{0};
static_assert(std::atomic<ConsoleEventHandler>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);

constexpr int kKeyPollSliceMs = 50;
constexpr int kConsoleWaitMs = 1000;

// Async-signal-safe: only write(2), and errno is left as found.
void write_all(int fd, std::string_view text)
{
    const int saved_errno = errno;
    const char* pos = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, pos, left);
        if (n > 0) {
            pos += n;
            left -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd output {};  // a non-blocking console shared with another process
            output.fd = fd;
            output.events = POLLOUT;
            if (::poll(&output, 1, kConsoleWaitMs) <= 0) {
                break;  // a console that takes nothing for a second loses the text
            }
        } else {
            break;  // a closed or full console loses the text, as a console write would
        }
    }
    errno = saved_errno;
}

void on_console_signal(int signal_number)
{
    const int saved_errno = errno;
    const ConsoleEvent event = signal_number == SIGINT ? ConsoleEvent::ctrl_c : ConsoleEvent::close;
    const ConsoleEventHandler handler = g_handler.load();
    if (handler != nullptr && handler(event)) {
        g_accepted_events.fetch_add(1);
        errno = saved_errno;
        return;
    }
    // Not handled: the default action follows, as when no handler had been installed. The signal
    // is blocked while this runs, so the raised one is delivered on return.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal_number, &fallback, nullptr);
    ::raise(signal_number);
    errno = saved_errno;
}

}  // namespace

namespace posix {

uint32_t console_event_count()
{
    return g_accepted_events.load();
}

}  // namespace posix

void write_stdout(std::string_view text)
{
    write_all(STDOUT_FILENO, text);
}

void write_stderr(std::string_view text)
{
    write_all(STDERR_FILENO, text);
}

void install_console_handler(ConsoleEventHandler handler)
{
    g_handler.store(handler);

    struct sigaction action {};
    action.sa_handler = on_console_signal;
    // No SA_RESTART: a blocking read or open returns EINTR so that the stop request is noticed.
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGTERM);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    // A reader that went away makes write(2) fail with EPIPE instead of ending the process.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void allocate_console() {}

void wait_for_key(const std::atomic<int>& stop)
{
    if (::isatty(STDIN_FILENO) != 1) {
        return;
    }
    // A job in the background of its terminal would be stopped by the mode change (SIGTTOU):
    // there is no key to wait for there.
    const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
    if (foreground >= 0 && foreground != ::getpgrp()) {
        return;
    }
    struct termios saved {};
    if (::tcgetattr(STDIN_FILENO, &saved) != 0) {
        return;
    }
    struct termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl+C still signals
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        return;
    }
    while (stop.load() == 0) {
        struct pollfd input {};
        input.fd = STDIN_FILENO;
        input.events = POLLIN;
        const int ready = ::poll(&input, 1, kKeyPollSliceMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            continue;
        }
        if ((input.revents & POLLIN) == 0) {
            break;  // hang-up or error: no key will come
        }
        char key = 0;
        const ssize_t n = ::read(STDIN_FILENO, &key, 1);
        if (n == 1 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            break;
        }
        if (n == 0) {
            break;
        }
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void pump_messages() {}

unsigned long process_id()
{
    return static_cast<unsigned long>(::getpid());
}

}  // namespace qv::platform
