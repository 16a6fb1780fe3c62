#include "base/path_parts.h"

#include "platform/environment.h"

namespace qv {
namespace {

bool windows_paths() { return platform::path_separator() == '\\'; }

bool is_sjis_lead_byte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

/// Position one past the last separator, skipping the trail bytes of Shift_JIS characters where
/// paths are CP932.
size_t directory_end(const std::string& path, size_t from)
{
    size_t end = from;
    bool sjis = windows_paths();
    for (size_t i = from; i < path.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (sjis && is_sjis_lead_byte(c) && i + 1 < path.size()) {
            ++i;
            continue;
        }
        if (platform::is_path_separator(path[i])) {
            end = i + 1;
        }
    }
    return end;
}

}  // namespace

PathParts split_path(const std::string& path)
{
    PathParts parts;
    size_t start = 0;
    if (windows_paths() && path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        start = 2;
    }
    size_t name_start = directory_end(path, start);
    parts.directory = path.substr(start, name_start - start);
    std::string file = path.substr(name_start);
    size_t dot = file.rfind('.');
    if (dot == std::string::npos) {
        parts.name = file;
    } else {
        parts.name = file.substr(0, dot);
        parts.extension = file.substr(dot);
    }
    return parts;
}

}  // namespace qv
