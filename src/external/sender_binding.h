#pragma once
// The TCP sender output: the process-wide binding of the sender library and the one sender a
// pass opens on it.
//
// Order of use in a pass: the worker that owns a sender output sets `sender_library_path`
// (split_sender_path), calls open_sender with the target and hands the id and sender_api() to its
// PacketWriter; at its closing it calls close_sender with that id. After every worker of the pass
// has ended, setup calls unload_sender_library(-1).
#include <cstdint>
#include <string>

#include "external/sendtstcp_api.h"
#include "platform/library.h"

namespace qv {

/// Output paths that name a TCP sender: this prefix, the target, then "\" and a library path.
inline constexpr std::string_view kSenderPathPrefix = "\\\\.\\sendtstcp\\";

/// The sender library as the whole process sees it (one per process, used without locks: only
/// the worker that owns a pass's output opens a sender, and setup unloads after the workers).
struct SenderBinding {
    std::string sender_library_path;  ///< empty: the platform's default library name
    platform::LibraryHandle library = nullptr;
    SendTsTcpApi api;             ///< the eight entry points; all null while unloaded
    bool sender_loaded = false;   ///< all eight entry points were found
    bool sender_running = false;  ///< a sender has been started and not stopped
};

SenderBinding& sender_binding();

/// Splits an output path "\\.\sendtstcp\TARGET[\LIBRARY]" at the first backslash after the
/// prefix: the target (host:port lines) before it, the library path (may be empty; on POSIX it
/// may be an absolute path with '/') behind it. False when the path lacks the prefix.
[[nodiscard]] bool split_sender_path(std::string_view path, std::string& target,
                                     std::string& library);

/// Loads `sender_library_path` (or the default name) and binds the eight entry points; a library
/// without all of them is released again. Nothing happens while a library is loaded.
void load_sender_library();

/// Opens a sender for the native-text target: LF-separated "host:port" lines (a CR before the LF
/// is dropped), converted to UTF-16. Returns the sender id, or -1 when the target is empty, a
/// library is already loaded, the library is missing or incomplete, or it refuses a sender.
/// Prints the start message unless -noprogress.
int32_t open_sender(const std::string& target);

/// The bound entry points for a PacketWriter, or null while no complete library is loaded.
const SendTsTcpApi* sender_api();

/// Stops a running sender (its queued data is sent first); -1 does nothing. Prints the end
/// message unless -noprogress.
void stop_sender(int32_t sender_id);

/// The worker's closing of a sender output: stop_sender, then "UnInitializeDLL" with the id.
void close_sender(int32_t sender_id);

/// Releases the library: "UnInitializeDLL" with the id unless it is -1, then frees the module
/// and forgets the entry points. Setup calls it with -1 after the workers of a pass have ended.
void unload_sender_library(int32_t sender_id);

}  // namespace qv
