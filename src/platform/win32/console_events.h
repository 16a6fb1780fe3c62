#pragma once
// The console control dispatch of the Windows console, reachable for the tests.

namespace qv::platform::win32 {

/// How long a close event holds the control handler so that the workers can flush and close
/// their outputs; Windows ends the process after about five seconds whatever the handler does.
inline constexpr unsigned long kCloseGraceMs = 4500;

/// Hands a console control event (CTRL_C_EVENT, CTRL_CLOSE_EVENT, …) to the installed handler.
/// True when it was handled; a handled close event returns only after `close_grace_ms`.
bool dispatch_console_event(unsigned long type, unsigned long close_grace_ms = kCloseGraceMs);

}  // namespace qv::platform::win32
