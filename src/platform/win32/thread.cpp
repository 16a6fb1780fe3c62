// Threads and manual-reset events on Windows: _beginthreadex and unnamed kernel events.
#include "platform/thread.h"

#include <windows.h>
#include <process.h>

#include <atomic>

namespace qv::platform {

struct Thread::Impl {
    HANDLE handle = nullptr;
    std::atomic<bool> body_running{false};
};

namespace {

struct ThreadStart {
    std::function<void()> body;
    std::atomic<bool>* body_running = nullptr;
};

unsigned __stdcall run_thread(void* argument)
{
    auto* start = static_cast<ThreadStart*>(argument);
    start->body();
    start->body_running->store(false);
    delete start;
    return 0;
}

}  // namespace

Thread::Thread() : impl_(std::make_unique<Impl>()) {}

Thread::~Thread() { join(); }

bool Thread::start(std::function<void()> body)
{
    if (impl_->handle != nullptr || !body) {
        SetLastError(ERROR_INVALID_PARAMETER);  // one thread per object; join the previous one
        return false;
    }
    auto* start = new ThreadStart{std::move(body), &impl_->body_running};
    impl_->body_running = true;
    // _beginthreadex rather than CreateThread: the C runtime sets up its per-thread state.
    const uintptr_t handle = _beginthreadex(nullptr, 0, run_thread, start, 0, nullptr);
    if (handle == 0) {
        impl_->body_running = false;
        delete start;
        return false;
    }
    impl_->handle = reinterpret_cast<HANDLE>(handle);
    return true;
}

void Thread::interrupt_blocking_io()
{
    if (impl_->handle != nullptr && impl_->body_running) {
        CancelSynchronousIo(impl_->handle);
    }
}

void Thread::join()
{
    if (impl_->handle != nullptr) {
        WaitForSingleObject(impl_->handle, INFINITE);
        CloseHandle(impl_->handle);
        impl_->handle = nullptr;
    }
}

bool Thread::running() const { return impl_->body_running.load(); }

struct ManualResetEvent::Impl {
    HANDLE handle = nullptr;
};

ManualResetEvent::ManualResetEvent(bool signalled) : impl_(std::make_unique<Impl>())
{
    // Unnamed: a named event is shared by every process of the session, so a second run of the
    // program would signal (and be signalled by) the threads of the first.
    impl_->handle = CreateEventA(nullptr, TRUE, signalled ? TRUE : FALSE, nullptr);
}

ManualResetEvent::~ManualResetEvent()
{
    if (impl_->handle != nullptr) {
        CloseHandle(impl_->handle);
    }
}

void ManualResetEvent::set()
{
    if (impl_->handle != nullptr) {
        SetEvent(impl_->handle);
    }
}

void ManualResetEvent::reset()
{
    if (impl_->handle != nullptr) {
        ResetEvent(impl_->handle);
    }
}

bool ManualResetEvent::wait(uint32_t timeout_ms)
{
    static_assert(kWaitForever == INFINITE);
    return impl_->handle != nullptr && WaitForSingleObject(impl_->handle, timeout_ms) == WAIT_OBJECT_0;
}

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

bool processor_to_spare() { return false; }

}  // namespace qv::platform
