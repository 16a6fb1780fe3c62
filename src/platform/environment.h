#pragma once
// The process and its surroundings: executable path, temporary directory, directory search and
// the version strings of the contact block.
#include <cstdint>
#include <functional>
#include <string>

namespace qv::platform {

/// Full path of the running executable.
std::string executable_path();
/// The temporary directory with a trailing separator (Windows GetTempPathA; POSIX $TMPDIR or
/// /tmp).
std::string temp_directory();
/// The value of the environment variable `name`; false when it is not set.
[[nodiscard]] bool environment_value(const char* name, std::string& value);
/// The path separator that joins directory and name ('\\' on Windows, '/' on POSIX).
char path_separator();
/// True for characters that end a directory part of a path ('\\' and '/' on Windows, '/' on
/// POSIX); Windows callers must skip Shift_JIS trail bytes themselves.
bool is_path_separator(char c);

/// One directory entry found by find_in_directory.
struct DirectoryEntry {
    std::string name;           ///< name only, no directory
    bool is_directory = false;
    uint64_t last_write = 0;    ///< FILETIME: 100 ns units since 1601-01-01 UTC
    uint64_t size = 0;
};

/// Calls `found` for every entry of `directory` whose name matches `pattern` (`*` any run, `?`
/// one character), "." and ".." included as the OS lists them. False when the directory cannot
/// be searched.
bool find_in_directory(const std::string& directory, const std::string& pattern,
                       const std::function<void(const DirectoryEntry&)>& found);

/// The process exit status for a pass total. POSIX keeps 8 bits of a status, so a total of 256
/// would read as 0 ("nothing found") to a shell: totals above 255, and sums that overflowed into
/// negative values, give 255 there. Windows keeps the whole 32-bit total.
int exit_status(int32_t total);

/// A string of the program's version resource ("CompanyName", "Comments"); false when absent.
[[nodiscard]] bool read_version_string(const char* key, std::string& value);

}  // namespace qv::platform
