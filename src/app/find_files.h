#pragma once
// Directory search into a list of found files (the temporary-file sweep uses it).
#include <cstdint>
#include <memory>
#include <string>

namespace qv {

/// One found file; entries form a singly linked list owned from its head.
class CFindFileInfo {
public:
    CFindFileInfo() = default;
    CFindFileInfo(const CFindFileInfo&) = delete;
    CFindFileInfo& operator=(const CFindFileInfo&) = delete;
    /// Releases the entries behind this one too, one after another (no deep recursion).
    virtual ~CFindFileInfo();

    std::string path;        ///< full path
    int64_t last_write = 0;  ///< FILETIME
    int64_t size = 0;
    std::unique_ptr<CFindFileInfo> next;
};

/// Adds an entry at the head of `list` for every match of every `;`-separated pattern in
/// `directory` (and, with `recurse`, in every directory below it, depth first). "." and ".." are
/// skipped, and directories unless `include_directories`. Nothing is found when the directory or
/// the pattern list is empty.
void find_files(const std::string& directory, const std::string& patterns,
                std::unique_ptr<CFindFileInfo>& list, bool recurse, bool include_directories);

}  // namespace qv
