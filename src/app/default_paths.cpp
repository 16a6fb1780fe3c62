#include "app/default_paths.h"

#include "base/path_parts.h"
#include "platform/file.h"

namespace qv {
namespace {

std::string beside(const PathParts& parts, const std::string& name, const std::string& tail)
{
    return parts.drive + parts.directory + name + tail;
}

}  // namespace

void apply_default_paths(RunConfig& config, const std::string& source, const std::string& program)
{
    const PathParts parts = split_path(source);
    const std::string& name = parts.name;
    const std::string& extension = parts.extension;
    if (config.log_enabled && config.log_path.empty()) {
        config.log_path = beside(parts, name, "." + program + ".log");
    }
    switch (config.mode) {
    case RunMode::extract:
        if (config.cap_path.empty()) {
            config.cap_path = beside(parts, name, "." + program + extension);
        }
        break;
    case RunMode::convert:
        if (config.cap_path.empty()) {
            config.cap_path = beside(parts, name, "." + program + ".ts");
        }
        break;
    case RunMode::merge:
        if (config.cap_path.empty()) {
            config.cap_path = beside(parts, name, "." + program + extension);
            // rec.cut.ts merges the caption TS of rec.ts when it has none of its own.
            const size_t dot = name.rfind('.');
            if (!platform::path_exists(config.cap_path) && dot != std::string::npos) {
                config.cap_path = beside(parts, name.substr(0, dot), "." + program + extension);
            }
        }
        if (config.merge_path.empty()) {
            config.merge_path = beside(parts, name, "." + program + "Merge" + extension);
        }
        break;
    case RunMode::through:
        if (config.through_path.empty()) {
            config.through_path = beside(parts, name, "." + program + "Through" + extension);
        }
        break;
    case RunMode::filter:
        if (config.filter_path.empty()) {
            config.filter_path = beside(parts, name, "." + program + "Filter" + extension);
            // Filtering a merged stream gives back the original name when that is free.
            const std::string merged = "." + program + "Merge";
            const size_t at = name.rfind(merged);
            if (at != std::string::npos && at > 0 && at + merged.size() == name.size()) {
                const std::string original = beside(parts, name.substr(0, at), extension);
                if (!platform::path_exists(original)) {
                    config.filter_path = original;
                }
            }
        }
        break;
    case RunMode::display:
        break;
    }
}

}  // namespace qv
