#include "app/console_output.h"

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

namespace {

std::string g_log_file;
// Appends from worker threads and the main thread are serialised so that no message is
// interleaved with another.
std::mutex g_log_mutex;

bool console_text_on() { return (console_flags.load() & kConsoleTextOn) != 0; }

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
    platform::NativeHandle file = platform::open_always_for_writing(g_log_file);
    if (file == platform::kClosedHandle) {
        return;
    }
    int64_t end = 0;
    size_t written = 0;
    if (platform::seek_file(file, 0, platform::SeekOrigin::end, end)) {
        // The log is complete after each line: every message closes its own line.
        if (platform::write_file(file, text.data(), text.size(), written) && text.back() != '\n') {
            (void)platform::write_file(file, "\r\n", 2, written);
        }
    }
    platform::close_handle(file);
}

void emit_message(std::string_view text)
{
    if (console_text_on() && !text.empty()) {
        platform::write_stdout(text);
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
    platform::write_stdout(text);
    line_closed = false;
}

void close_status_line()
{
    if (!line_closed.load() && progress_visible()) {
        platform::write_stdout("\r\n");
    }
    line_closed = true;
}

}  // namespace qv
