#pragma once
// Threads and manual-reset events between the threads of one process (never named, so two runs
// of the program never signal each other).
#include <cstdint>
#include <functional>
#include <memory>

namespace qv::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFF;

class Thread {
public:
    Thread();
    ~Thread();  ///< joins a thread still running
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    /// Starts `body` on a new thread; false when the thread could not be created.
    [[nodiscard]] bool start(std::function<void()> body);
    /// Waits for the thread to end; nothing when none was started.
    void join();
    bool running() const;
    /// Makes a read or write that the thread is blocked in return with a failure (POSIX: a
    /// signal without restart, so the call ends with EINTR once a console event was accepted;
    /// Windows: CancelSynchronousIo). Nothing when no thread runs. A call that the thread has not
    /// entered yet is not affected: callers repeat it while they wait.
    void interrupt_blocking_io();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

class ManualResetEvent {
public:
    explicit ManualResetEvent(bool signalled);
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    /// True when the event was (or became) signalled within the timeout in milliseconds.
    bool wait(uint32_t timeout_ms = kWaitForever);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

void sleep_ms(uint32_t milliseconds);

/// True when a processor is free for a second thread of this process: it may run on more than
/// one, and besides this thread fewer threads than that, less one, are ready to run now (the
/// least of a few looks a fraction of a millisecond apart, so that a thread that runs only for a
/// moment is not counted). False where the load is not known (Windows).
bool processor_to_spare();

/// The threads ready to run in a line of the system's load file ("0.52 0.58 0.59 3/512 4711"
/// gives 3): the part before the slash of the fourth field. -1 when the line has none.
int runnable_in_load_line(const char* line);

}  // namespace qv::platform
