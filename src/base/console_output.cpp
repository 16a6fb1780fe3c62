#include "base/console_output.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/console.h"
#include "platform/file.h"

namespace qv {

std::atomic<uint32_t> console_flags{kConsoleTextOn};
std::atomic<bool> line_closed{true};
std::atomic<uint32_t> log_active{0};
std::atomic<int> stop_requested{0};
std::atomic<int> stop_reason{0};
std::atomic<uint32_t> console_notices{0};
std::atomic<bool> console_on_stderr{false};

void write_console(std::string_view text)
{
    if (console_on_stderr.load()) {
        platform::write_stderr(text);
    } else {
        platform::write_stdout(text);
    }
}

namespace {

std::string g_log_file;
// Appends from worker threads and the main thread are serialised so that no message is
// interleaved with another.
std::mutex g_log_mutex;

bool console_text_on() { return (console_flags.load() & kConsoleTextOn) != 0; }

// Status lines waiting to be written; every console write from a thread takes the mutex and
// writes them first, so the order of the console's bytes is the order they were printed in.
constexpr size_t kStatusGatherLimit = 65536;
std::mutex g_console_mutex;
std::string g_status_lines;

void write_status_lines_locked()
{
    static uint32_t notices_seen = 0;
    const uint32_t notices = console_notices.load();
    if (notices != notices_seen) {
        // Progress from before a notice that the console already shows below it.
        notices_seen = notices;
        g_status_lines.clear();
        return;
    }
    if (!g_status_lines.empty()) {
        write_console(g_status_lines);
        g_status_lines.clear();
    }
}

}  // namespace

void set_log_file(const std::string& path)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_log_file = path;
}

const std::string& log_file() { return g_log_file; }

void append_log(std::string_view text)
{
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (text.empty() || g_log_file.empty()) {
        return;
    }
    platform::NativeHandle file = platform::open_for_appending(g_log_file);
    if (file == platform::kClosedHandle) {
        return;
    }
    // The log is complete after each line: every message closes its own line, in the same
    // write, so that another run appending to the same log cannot come between them.
    const bool closes_line = text.back() == '\n';
    size_t written = 0;
    (void)platform::write_file_pair(file, text.data(), text.size(), "\r\n", closes_line ? 0 : 2,
                                    written);
    platform::close_handle(file);
}

void emit_message(std::string_view text)
{
    if (console_text_on() && !text.empty()) {
        std::lock_guard<std::mutex> lock(g_console_mutex);
        write_status_lines_locked();
        write_console(text);
    }
    if ((log_active.load() & kLogOn) != 0) {
        append_log(text);
    }
}

void print_message(size_t /*min_size*/, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        va_end(arguments);
        return;
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, arguments);
    va_end(arguments);
    emit_message(std::string_view(text.data(), static_cast<size_t>(length)));
}

bool outside_library_messages_shown() { return (console_flags.load() & kNoProgress) == 0; }

bool progress_visible()
{
    uint32_t flags = console_flags.load();
    return (flags & kConsoleTextOn) != 0 && (flags & kNoProgress) == 0;
}

void print_status_line(std::string_view text)
{
    if (!progress_visible()) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_console_mutex);
    if (g_status_lines.capacity() < kStatusGatherLimit) {
        g_status_lines.reserve(kStatusGatherLimit);
    }
    g_status_lines.append(text);
    if (g_status_lines.size() >= kStatusGatherLimit - 512) {
        write_status_lines_locked();
    }
    // The lock orders it for the threads that read it under the lock as well.
    line_closed.store(false, std::memory_order_relaxed);
}

void flush_status_lines()
{
    std::lock_guard<std::mutex> lock(g_console_mutex);
    write_status_lines_locked();
}

void close_status_line()
{
    std::lock_guard<std::mutex> lock(g_console_mutex);
    write_status_lines_locked();
    if (!line_closed.load() && progress_visible()) {
        write_console("\r\n");
    }
    line_closed = true;
}

}  // namespace qv
