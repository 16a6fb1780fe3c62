// Threads and manual-reset events on POSIX: std::thread, a mutex and a condition variable.
#include "platform/thread.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <system_error>
#include <thread>

namespace qv::platform {

struct Thread::Impl {
    std::thread thread;
    std::atomic<bool> body_running{false};
};

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread()
{
    join();
}

bool Thread::start(std::function<void()> body)
{
    if (!body) {
        errno = EINVAL;
        return false;
    }
    if (impl_->thread.joinable()) {
        if (impl_->body_running) {
            errno = EBUSY;  // one running thread per object
            return false;
        }
        impl_->thread.join();  // the previous body has ended: collect its thread first
    }
    impl_->body_running = true;
    // std::thread reports a failed creation only by throwing std::system_error; this is the one
    // place where an exception of the standard library is caught and turned into a result.
    try {
        impl_->thread = std::thread([impl = impl_.get(), body = std::move(body)]() {
            body();
            impl->body_running = false;
        });
    } catch (const std::system_error& failure) {
        impl_->body_running = false;
        errno = failure.code().value() != 0 ? failure.code().value() : EAGAIN;
        return false;
    }
    return true;
}

namespace {

void on_interrupt_signal(int) {}

/// SIGURG (ignored by default, sent by nobody else to this program) with a handler that does
/// nothing and no SA_RESTART: delivered to one thread, it ends the system call that thread is
/// blocked in.
void install_interrupt_signal()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_handler = on_interrupt_signal;
        action.sa_flags = 0;
        sigemptyset(&action.sa_mask);
        sigaction(SIGURG, &action, nullptr);
    });
}

}  // namespace

void Thread::interrupt_blocking_io()
{
    if (!impl_->thread.joinable() || !impl_->body_running) {
        return;
    }
    install_interrupt_signal();
    pthread_kill(impl_->thread.native_handle(), SIGURG);
}

void Thread::join()
{
    if (impl_->thread.joinable()) {
        impl_->thread.join();
    }
}

bool Thread::running() const
{
    return impl_->body_running.load();
}

struct ManualResetEvent::Impl {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};

ManualResetEvent::ManualResetEvent(bool signalled) : impl_(std::make_unique<Impl>())
{
    impl_->signalled = signalled;
}

ManualResetEvent::~ManualResetEvent() = default;

void ManualResetEvent::set()
{
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->signalled = true;
    }
    impl_->changed.notify_all();  // manual reset: every waiter is released
}

void ManualResetEvent::reset()
{
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->signalled = false;
}

bool ManualResetEvent::wait(uint32_t timeout_ms)
{
    std::unique_lock<std::mutex> lock(impl_->mutex);
    if (timeout_ms == kWaitForever) {
        impl_->changed.wait(lock, [this] { return impl_->signalled; });
        return true;
    }
    // steady_clock: a change of the wall clock neither shortens nor stretches the wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    return impl_->changed.wait_until(lock, deadline, [this] { return impl_->signalled; });
}

void sleep_ms(uint32_t milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int runnable_in_load_line(const char* line)
{
    if (line == nullptr) {
        return -1;
    }
    const char* at = line;
    for (int field = 0; field < 3; ++field) {  // past the three averages
        while (*at == ' ') {
            ++at;
        }
        while (*at != '\0' && *at != ' ') {
            ++at;
        }
    }
    while (*at == ' ') {
        ++at;
    }
    int runnable = 0;
    const char* digits = at;
    for (; *at >= '0' && *at <= '9' && runnable < 1000000; ++at) {
        runnable = runnable * 10 + (*at - '0');
    }
    return at != digits && *at == '/' ? runnable : -1;
}

namespace {

/// Threads ready to run now, this one included; -1 when the system does not say.
int runnable_now()
{
    const int file = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return -1;
    }
    char line[128] = {};
    const ssize_t length = ::read(file, line, sizeof line - 1);
    ::close(file);
    return length > 0 ? runnable_in_load_line(line) : -1;
}

}  // namespace

bool processor_to_spare()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) {
        return false;
    }
    const int processors = CPU_COUNT(&allowed);
    if (processors < 2) {
        return false;
    }
    // The one-minute load average would count this program's own earlier runs (a script that
    // goes through a folder of recordings): what is ready to run now says whether a processor is
    // free for the next seconds. A program that keeps a processor busy is ready at every look.
    constexpr int kLooks = 3;
    int fewest = -1;
    for (int look = 0; look < kLooks; ++look) {
        if (look > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        const int runnable = runnable_now();
        if (runnable < 0) {
            return false;
        }
        fewest = fewest < 0 ? runnable : std::min(fewest, runnable);
    }
    const int others = fewest - 1;  // this thread is one of them
    return others <= processors - 2;
}

}  // namespace qv::platform
