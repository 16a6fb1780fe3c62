#include "app/find_files.h"

#include <vector>

#include "platform/environment.h"
#include "platform/file.h"

namespace qv {

CFindFileInfo::~CFindFileInfo()
{
    std::unique_ptr<CFindFileInfo> rest = std::move(next);
    while (rest) {
        rest = std::move(rest->next);
    }
}

namespace {

bool is_dot_entry(const std::string& name) { return name == "." || name == ".."; }

std::string join(const std::string& directory, const std::string& name)
{
    return directory + platform::path_separator() + name;
}

/// Every directory below `directory`, depth first.
void collect_subdirectories(const std::string& directory, std::vector<std::string>& found)
{
    std::vector<std::string> here;
    platform::find_in_directory(directory, "*", [&](const platform::DirectoryEntry& entry) {
        if (entry.is_directory && !is_dot_entry(entry.name)) {
            here.push_back(join(directory, entry.name));
        }
    });
    for (const auto& sub : here) {
        found.push_back(sub);
        collect_subdirectories(sub, found);
    }
}

std::vector<std::string> split_patterns(const std::string& patterns)
{
    std::vector<std::string> list;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        if (end == std::string::npos) {
            end = patterns.size();
        }
        if (end > start) {
            list.push_back(patterns.substr(start, end - start));
        }
        start = end + 1;
    }
    return list;
}

}  // namespace

void find_files(const std::string& directory, const std::string& patterns,
                std::unique_ptr<CFindFileInfo>& list, bool recurse, bool include_directories)
{
    if (directory.empty() || patterns.empty() ||
        directory.size() + patterns.size() > platform::max_path_length()) {
        return;
    }
    std::vector<std::string> directories{directory};
    if (recurse) {
        collect_subdirectories(directory, directories);
    }
    for (const auto& dir : directories) {
        for (const auto& pattern : split_patterns(patterns)) {
            platform::find_in_directory(dir, pattern, [&](const platform::DirectoryEntry& entry) {
                if (is_dot_entry(entry.name) || (entry.is_directory && !include_directories)) {
                    return;
                }
                auto found = std::make_unique<CFindFileInfo>();
                found->path = join(dir, entry.name);
                found->last_write = static_cast<int64_t>(entry.last_write);
                found->size = static_cast<int64_t>(entry.size);
                found->next = std::move(list);
                list = std::move(found);
            });
        }
    }
}

}  // namespace qv
