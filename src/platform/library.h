#pragma once
// Dynamic libraries (tuner drivers, the TCP sender, plug-ins).
#include <cstdint>
#include <string>

namespace qv::platform {

using LibraryHandle = void*;

/// Loads a library by path; null on failure (last_error() tells why).
LibraryHandle load_library(const std::string& path);
/// The address of an exported symbol, or null.
void* find_symbol(LibraryHandle library, const char* name);
void free_library(LibraryHandle& library);  ///< frees and sets null; null is a no-op

/// Name of the TCP sender library when none is given (Windows SendTSTCP.dll, POSIX
/// libSendTSTCP.so).
const char* default_sender_library_name();

}  // namespace qv::platform
