// File views on POSIX: mmap, with a SIGBUS handler that turns an unreadable page of a view into
// zeros instead of ending the process.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64  // 64-bit offsets on 32-bit builds as well
#endif
#include "platform/file_view.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22  // Linux 5.14 and later; older kernels answer EINVAL
#endif

namespace qv::platform {
namespace {

/// Views guarded at a time: two per file source, and merge reads two sources.
constexpr int kGuardSlots = 16;

struct GuardSlot {
    std::atomic<bool> used{false};
    std::atomic<uintptr_t> start{0};
    std::atomic<uintptr_t> end{0};  ///< 0 while the slot describes no view
    std::atomic<bool> damaged{false};
};

GuardSlot g_guard[kGuardSlots];
struct sigaction g_previous_action {};
std::once_flag g_handler_installed;
std::atomic<bool> g_populate_unsupported{false};

size_t page_size()
{
    static const size_t size = [] {
        const long value = ::sysconf(_SC_PAGESIZE);
        return value > 0 ? static_cast<size_t>(value) : size_t{4096};
    }();
    return size;
}

/// Hands a fault outside every view to whatever handled SIGBUS before (by default the process
/// ends with SIGBUS once the faulting access runs again).
void pass_on(int signal, siginfo_t* info, void* context)
{
    if ((g_previous_action.sa_flags & SA_SIGINFO) != 0 && g_previous_action.sa_sigaction) {
        g_previous_action.sa_sigaction(signal, info, context);
        return;
    }
    if (g_previous_action.sa_handler != SIG_DFL && g_previous_action.sa_handler != SIG_IGN) {
        g_previous_action.sa_handler(signal);
        return;
    }
    ::signal(SIGBUS, SIG_DFL);
    if (info->si_code <= 0) {
        ::raise(signal);  // sent, not a fault: it would not come again by itself
    }
}

void on_bus_error(int signal, siginfo_t* info, void* context)
{
    // A SIGBUS sent by a program (si_code 0 or below) has no faulting address.
    const uintptr_t address =
        info->si_code > 0 ? reinterpret_cast<uintptr_t>(info->si_addr) : uintptr_t{0};
    for (GuardSlot& slot : g_guard) {
        const uintptr_t start = slot.start.load();
        const uintptr_t end = slot.end.load();
        if (end == 0 || address == 0 || address < start || address >= end) {
            continue;
        }
        // Zero pages over the rest of the view: the access runs again and reads zeros.
        const uintptr_t page = address & ~(uintptr_t{page_size()} - 1);
        const int saved_errno = errno;
        (void)::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        errno = saved_errno;
        slot.damaged.store(true);
        return;
    }
    pass_on(signal, info, context);
}

void install_handler()
{
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    (void)::sigaction(SIGBUS, &action, &g_previous_action);
}

int claim_guard(uintptr_t start, uintptr_t end)
{
    for (int i = 0; i < kGuardSlots; ++i) {
        bool expected = false;
        if (g_guard[i].used.compare_exchange_strong(expected, true)) {
            g_guard[i].damaged.store(false);
            g_guard[i].start.store(start);
            g_guard[i].end.store(end);
            return i;
        }
    }
    return -1;
}

void release_guard(int index)
{
    if (index < 0 || index >= kGuardSlots) {
        return;
    }
    g_guard[index].end.store(0);
    g_guard[index].start.store(0);
    g_guard[index].used.store(false);
}

}  // namespace

size_t file_view_alignment() { return page_size(); }

bool map_file_view(NativeHandle handle, int64_t offset, size_t length, FileView& view)
{
    view = FileView{};
    if (handle < 0 || offset < 0 || length == 0 || offset % static_cast<int64_t>(page_size()) != 0) {
        return false;
    }
    std::call_once(g_handler_installed, install_handler);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, static_cast<int>(handle),
                          static_cast<off_t>(offset));
    if (mapped == MAP_FAILED) {
        return false;
    }
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const int guard = claim_guard(start, start + length);
    if (guard < 0) {
        ::munmap(mapped, length);  // an unguarded view could end the process
        return false;
    }
    view.data = static_cast<const uint8_t*>(mapped);
    view.length = length;
    view.guard = guard;
    return true;
}

void unmap_file_view(FileView& view)
{
    if (view.data != nullptr) {
        release_guard(view.guard);
        ::munmap(const_cast<uint8_t*>(view.data), view.length);
    }
    view = FileView{};
}

void populate_file_view(const uint8_t* data, size_t length)
{
    if (data == nullptr || length == 0) {
        return;
    }
    const uintptr_t first = reinterpret_cast<uintptr_t>(data) & ~(uintptr_t{page_size()} - 1);
    const uintptr_t end = reinterpret_cast<uintptr_t>(data) + length;
    if (!g_populate_unsupported.load()) {
        if (::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_READ) == 0) {
            return;
        }
        if (errno != EINVAL) {
            return;  // a page beyond the end of the file or an I/O error: left to the walker
        }
        g_populate_unsupported.store(true);
    }
    // An older kernel: touch a byte of every page (a damaged page reads as zeros, above).
    for (uintptr_t page = first; page < end; page += page_size()) {
        (void)*reinterpret_cast<const volatile uint8_t*>(page < reinterpret_cast<uintptr_t>(data)
                                                              ? reinterpret_cast<uintptr_t>(data)
                                                              : page);
    }
}

bool file_view_damaged(const FileView& view)
{
    return view.guard >= 0 && view.guard < kGuardSlots && g_guard[view.guard].damaged.load();
}

int file_view_damage_error() { return EIO; }

}  // namespace qv::platform
