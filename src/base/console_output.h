#pragma once
// Console and log output: print_message, the log appends, the progress-line discipline and the
// process-wide stop request that every loop polls.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

inline constexpr uint32_t kConsoleTextOn = 0x80000000;  ///< console_flags bit 31
inline constexpr uint32_t kNoProgress = 0x00000001;     ///< console_flags bit 0 (-noprogress)
inline constexpr uint32_t kLogOn = 0x80000000;          ///< log_active bit 31

/// Bit 31: console text shown; bit 0: no progress line.
extern std::atomic<uint32_t> console_flags;
/// True when the last console text ended its line.
extern std::atomic<bool> line_closed;
/// Bit 31: messages are appended to the log file of the pass.
extern std::atomic<uint32_t> log_active;
/// Non-zero asks every loop to end; never cleared once set.
extern std::atomic<int> stop_requested;
/// 0 none, 1 Ctrl+C, 2 console closed.
extern std::atomic<int> stop_reason;
/// Notices that the console handler wrote straight to the console. Status lines still held back
/// when one came are older than it: they are dropped instead of following it.
extern std::atomic<uint32_t> console_notices;

/// True once console text goes to standard error: a run that writes a stream to standard output
/// keeps every line of its own text out of that stream.
extern std::atomic<bool> console_on_stderr;

/// Writes console text (messages, status lines, notices) to the console's stream: standard
/// output, or standard error once console_on_stderr is set. Async-signal-safe.
void write_console(std::string_view text);

/// Sets the log file of the pass (main thread, between passes).
void set_log_file(const std::string& path);
const std::string& log_file();

/// Formats a message (printf conversions) into a buffer sized to the text and sends it to the
/// console when bit 31 of console_flags is set, and to the log when bit 31 of log_active is set.
/// `min_size` is kept for the callers' sizing habit; nothing is ever cut.
void print_message(size_t min_size, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
/// Sends an already formatted message the same way.
void emit_message(std::string_view text);

/// Appends one message to the log file: open, seek to the end, write, close; "\r\n" follows a
/// text that does not end in "\n". Appends from several threads are serialised.
void append_log(std::string_view text);

/// True when console text is on and progress lines are not switched off.
bool progress_visible();
/// True unless -noprogress: the start and end messages of the outside libraries (tuner, TCP
/// sender) show; they still go through print_message, which follows console_flags bit 31.
bool outside_library_messages_shown();
/// Prints a status line that the next one overwrites (it ends in "\r"); shown only when
/// progress_visible(). Clears line_closed. Status lines are gathered and written together when
/// 64 KiB have come together, before any other console text, and at flush_status_lines(): the
/// console receives exactly the same bytes in the same order, in fewer writes.
void print_status_line(std::string_view text);
/// Writes the status lines gathered so far. The stream pump calls it before each read from its
/// source, so a line is never held back while the input is waited for.
void flush_status_lines();
/// Ends an open status line with "\r\n" before a message that must stay visible.
void close_status_line();


}  // namespace qv
