#pragma once
// The console: plain output, the control handler for Ctrl+C and closing, the one-key wait.
#include <atomic>
#include <string_view>

namespace qv::platform {

/// Writes the bytes to standard output at once, unbuffered and async-signal-safe.
void write_stdout(std::string_view text);
/// Writes the bytes to standard error at once.
void write_stderr(std::string_view text);

enum class ConsoleEvent { ctrl_c, close };

/// Handler for console events. It runs asynchronously (POSIX: in a signal handler), so it may only
/// touch atomics and call write_stdout. Returns true when it handled the event.
using ConsoleEventHandler = bool (*)(ConsoleEvent event);

/// Installs the handler: Windows SetConsoleCtrlHandler; POSIX SIGINT → ctrl_c, SIGHUP and
/// SIGTERM → close, and SIGPIPE ignored so a closed pipe is a write error.
void install_console_handler(ConsoleEventHandler handler);

/// Gives the process a console when it has none (Windows AllocConsole; nothing on POSIX).
void allocate_console();

/// Waits for one key press without echo and without Enter. Returns at once when standard input
/// is not a terminal (console); ends early when `stop` becomes non-zero.
void wait_for_key(const std::atomic<int>& stop);

/// Removes and dispatches the calling thread's waiting window messages (nothing on POSIX).
void pump_messages();

unsigned long process_id();

}  // namespace qv::platform
