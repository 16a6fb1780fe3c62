#pragma once
// Shared between the POSIX console and file implementations: how many console events (Ctrl+C,
// hang-up, termination) the installed handler has accepted so far.
#include <cstdint>

namespace qv::platform::posix {

/// Console events accepted by the handler since the process started; a change between two reads
/// tells a system call that failed with EINTR that it was interrupted by a stop request.
uint32_t console_event_count();

}  // namespace qv::platform::posix
