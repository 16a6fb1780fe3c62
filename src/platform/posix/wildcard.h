#pragma once
// The `*` and `?` wildcards of directory searches, matched the same on every POSIX system.
#include <string_view>

namespace qv::platform::posix {

/// True when `name` matches `pattern` as a whole: `*` stands for any run of characters (none
/// included), `?` for exactly one character (one UTF-8 sequence), anything else for itself, case
/// counting.
bool wildcard_match(std::string_view pattern, std::string_view name);

}  // namespace qv::platform::posix
