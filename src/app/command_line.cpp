#include "app/command_line.h"

#include <array>
#include <string_view>

#include "base/ascii_text.h"
#include "platform/environment.h"

namespace qv {
namespace {

/// What the next bare argument is taken for.
enum class Pending {
    source,
    mode,
    cap_path,
    merge_path,
    log_path,
    through_path,
    buffer_size,
    duration,
    window_size,
    discard,
    plugin_path,
    capmerge_patch,
    filter_path,
    dump,
    piddef,
    paramhex,
};

enum class Keyword {
    mode, srcpath, cappath, mergepath, log, logpath, sync, capstr, detail, throughpath, bufsize,
    duration, wsize, wcaption, tvtppath, capmergepatch, rwcntundrop, filterpath, rwcntdrop, dump,
    piddef, paramhex, patchtime, sdt, eit, tot, pause, pid, drop, wraparound, noprogress, loop,
    nodel,
};

struct KeywordEntry {
    std::string_view text;
    Keyword keyword;
};

// Comparison order matters: every matching keyword takes effect and the last one decides what
// the next bare argument is.
constexpr std::array<KeywordEntry, 33> kKeywords = {{
    {"mode", Keyword::mode},           {"srcpath", Keyword::srcpath},
    {"cappath", Keyword::cappath},     {"mergepath", Keyword::mergepath},
    {"log", Keyword::log},             {"logpath", Keyword::logpath},
    {"sync", Keyword::sync},           {"capstr", Keyword::capstr},
    {"detail", Keyword::detail},       {"throughpath", Keyword::throughpath},
    {"bufsize", Keyword::bufsize},     {"duration", Keyword::duration},
    {"wsize", Keyword::wsize},         {"wcaption", Keyword::wcaption},
    {"tvtppath", Keyword::tvtppath},   {"capmergepatch", Keyword::capmergepatch},
    {"rwcntundrop", Keyword::rwcntundrop}, {"filterpath", Keyword::filterpath},
    {"rwcntdrop", Keyword::rwcntdrop}, {"dump", Keyword::dump},
    {"piddef", Keyword::piddef},       {"paramhex", Keyword::paramhex},
    {"patchtime", Keyword::patchtime}, {"sdt", Keyword::sdt},
    {"eit", Keyword::eit},             {"tot", Keyword::tot},
    {"pause", Keyword::pause},         {"pid", Keyword::pid},
    {"drop", Keyword::drop},           {"wraparound", Keyword::wraparound},
    {"noprogress", Keyword::noprogress}, {"loop", Keyword::loop},
    {"nodel", Keyword::nodel},
}};

constexpr std::array<std::string_view, 6> kModeNames = {"extract", "merge",   "display",
                                                        "through", "filter", "convert"};

/// Where '/' separates directories it begins absolute paths, so only '-' introduces options.
bool is_option_prefix(char c)
{
    return c == '-' || (c == '/' && platform::path_separator() != '/');
}

/// Applies one matching keyword; returns the pending kind it leaves.
Pending apply_keyword(RunConfig& config, Keyword keyword, std::string_view rest)
{
    switch (keyword) {
        case Keyword::mode: return Pending::mode;
        case Keyword::srcpath: return Pending::source;
        case Keyword::cappath: return Pending::cap_path;
        case Keyword::mergepath: return Pending::merge_path;
        case Keyword::log: config.log_enabled = true; return Pending::source;
        case Keyword::logpath: return Pending::log_path;
        case Keyword::sync: config.sync = true; return Pending::source;
        case Keyword::capstr: config.caption_by_text = true; return Pending::source;
        case Keyword::detail: config.detail = true; return Pending::source;
        case Keyword::throughpath: return Pending::through_path;
        case Keyword::bufsize: return Pending::buffer_size;
        case Keyword::duration: return Pending::duration;
        case Keyword::wsize: return Pending::window_size;
        case Keyword::wcaption:
        case Keyword::rwcntundrop:
        case Keyword::rwcntdrop:
        case Keyword::patchtime: return Pending::discard;
        case Keyword::tvtppath: return Pending::plugin_path;
        case Keyword::capmergepatch: return Pending::capmerge_patch;
        case Keyword::filterpath: return Pending::filter_path;
        case Keyword::dump: return Pending::dump;
        case Keyword::piddef: return Pending::piddef;
        case Keyword::paramhex: return Pending::paramhex;
        case Keyword::sdt: config.keep_sdt = true; return Pending::source;
        case Keyword::eit: config.keep_eit = true; return Pending::source;
        case Keyword::tot: config.keep_tot = true; return Pending::source;
        case Keyword::pause: config.pause_at_start = true; return Pending::source;
        case Keyword::pid: config.show_process_id = true; return Pending::source;
        case Keyword::drop: config.report_drops = true; return Pending::source;
        case Keyword::wraparound: config.report_wraparound = true; return Pending::source;
        case Keyword::noprogress: config.no_progress = true; return Pending::source;
        case Keyword::loop:
            config.loop_enabled = true;
            if (!rest.empty()) {
                config.loop_count = static_cast<int32_t>(parse_decimal(std::string(rest).c_str()));
            }
            return Pending::source;
        case Keyword::nodel: config.no_delete = true; return Pending::source;
    }
    return Pending::source;
}

Pending scan_option(RunConfig& config, std::string_view option)
{
    Pending pending = Pending::source;
    bool matched_piddef = false;
    for (const auto& entry : kKeywords) {
        if (!starts_with_ignoring_case(option, entry.text)) {
            continue;
        }
        if (entry.keyword == Keyword::pid && matched_piddef) {
            continue;
        }
        matched_piddef = matched_piddef || entry.keyword == Keyword::piddef;
        pending = apply_keyword(config, entry.keyword, option.substr(entry.text.size()));
    }
    return pending;
}

void select_mode(RunConfig& config, std::string_view value)
{
    for (size_t i = 0; i < kModeNames.size(); ++i) {
        if (starts_with_ignoring_case(value, kModeNames[i])) {
            config.mode = static_cast<RunMode>(i);
        }
    }
}

void set_window_size(RunConfig& config, const std::string& value)
{
    size_t x = value.find('x');
    if (x == std::string::npos) {
        return;
    }
    config.window_width = static_cast<int32_t>(parse_decimal(value.substr(0, x).c_str()));
    config.window_height = static_cast<int32_t>(parse_decimal(value.c_str() + x + 1));
}

void consume_bare_argument(RunConfig& config, Pending pending, const std::string& value)
{
    switch (pending) {
        case Pending::source:
            if (!value.empty()) {
                config.source_list.push_back(value);
            }
            break;
        case Pending::mode: select_mode(config, value); break;
        case Pending::cap_path: config.cap_path = value; break;
        case Pending::merge_path: config.merge_path = value; break;
        case Pending::log_path: config.log_path = value; break;
        case Pending::through_path: config.through_path = value; break;
        case Pending::buffer_size:
            config.buffer_size = static_cast<int32_t>(parse_decimal(value.c_str()));
            break;
        case Pending::duration: config.duration_spec = value; break;
        case Pending::window_size: set_window_size(config, value); break;
        case Pending::discard: break;
        case Pending::plugin_path: add_plugin(config.plugin_host, value); break;
        case Pending::capmerge_patch: config.capmerge_patch = parse_decimal(value.c_str()); break;
        case Pending::filter_path: config.filter_path = value; break;
        case Pending::dump: config.dump_spec = value; break;
        case Pending::piddef: config.piddef_spec = value; break;
        case Pending::paramhex: config.paramhex_spec = value; break;
    }
}

}  // namespace

void scan_arguments(RunConfig& config, int argc, const char* const* argv)
{
    Pending pending = Pending::source;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (!argument.empty() && is_option_prefix(argument[0])) {
            pending = scan_option(config, argument.substr(1));
            continue;
        }
        consume_bare_argument(config, pending, std::string(argument));
        pending = Pending::source;
    }
}

}  // namespace qv
