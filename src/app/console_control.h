#pragma once
// The console control handler: Ctrl+C and closing the console ask every loop to stop.
#include "platform/console.h"

namespace qv {

/// Sets stop_reason (1 Ctrl+C, 2 closed) and stop_requested, and prints the notice when console
/// text is on and progress is not switched off. Runs asynchronously: atomics and a raw write only.
bool console_ctrl_handler(platform::ConsoleEvent event);

}  // namespace qv
