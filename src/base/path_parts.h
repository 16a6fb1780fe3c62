#pragma once
// Splitting a path into drive, directory, name and extension, and joining them again.
#include <string>

namespace qv {

struct PathParts {
    std::string drive;      ///< "C:" on Windows, empty on POSIX
    std::string directory;  ///< with its trailing separator, or empty
    std::string name;       ///< file name without extension
    std::string extension;  ///< from the last '.' of the file name, or empty
};

/// Splits like _splitpath: separators of the platform end the directory (on Windows a Shift_JIS
/// trail byte 0x5C is not one), the extension starts at the last '.' of the file name.
PathParts split_path(const std::string& path);

}  // namespace qv
