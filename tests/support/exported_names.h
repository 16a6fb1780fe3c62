#pragma once
// The names a shared library exports, read from the file itself: the defined global functions
// of an ELF dynamic symbol table, or the names of a PE export directory.
#include <string>
#include <vector>

namespace qv::test {

/// Sorted names; false when the file cannot be read or is neither ELF nor PE.
[[nodiscard]] bool exported_names(const std::string& path, std::vector<std::string>& names);

}  // namespace qv::test
