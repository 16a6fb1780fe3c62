#pragma once
// Process-wide preparation and cleanup, and the names every pass derives paths from.
#include <string>

namespace qv {

/// Prefix of the program's temporary files, swept at cleanup ("QVN????.tmp*").
inline constexpr const char* kTempFilePrefix = "QVN";

/// The running executable's file name without directory and extension.
const std::string& program_name();
/// The temporary directory with its trailing separator.
const std::string& temp_dir();

/// Sets temp_dir and program_name; called first by main.
void prepare_process();
/// Asks every loop to stop and deletes the program's leftover temporary files.
void cleanup_process();

}  // namespace qv
