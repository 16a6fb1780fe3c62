// The option values through their parsers: the command-line scan, the -duration ranges and
// convert's -piddef and -paramhex. The input is taken as it is (arguments split at NUL bytes,
// the same text as each option value) and also drives texts built to a known meaning, whose
// parse must give that meaning back.
//
// Command line: the mode is one of the six; sources, paths and values are bare arguments in
// their order, never an option; plug-in paths are distinct; and option words are read without
// case (flipping the case of their letters changes nothing).
// -duration: one range per item, the cursor only moving forward; written times parse exactly.
// -piddef: the two PIDs are usable and distinct, every left-out item is an item of the text;
// written PIDs come back. -paramhex: one byte per character pair, non-hex characters counted;
// written bytes come back.
#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "fuzz/fuzz_support.h"
#include "platform/environment.h"
#include "pump/time_ranges.h"
#include "subtitle/convert_options.h"

namespace {

using qv::fuzz::Input;
using qv::fuzz::require;
using Arguments = std::vector<std::string>;

// --- command line -------------------------------------------------------------------------------

constexpr const char* kKeywords[] = {
    "mode",     "srcpath",       "cappath",     "mergepath",  "log",       "logpath", "sync",
    "capstr",   "detail",        "throughpath", "bufsize",    "duration",  "wsize",   "wcaption",
    "tvtppath", "capmergepatch", "rwcntundrop", "filterpath", "rwcntdrop", "dump",    "piddef",
    "paramhex", "patchtime",     "sdt",         "eit",        "tot",       "pause",   "pid",
    "drop",     "wraparound",    "noprogress",  "loop",       "nodel"};
constexpr size_t kKeywordCount = sizeof kKeywords / sizeof kKeywords[0];

constexpr const char* kValues[] = {
    "extract", "MERGE",     "display", "through", "filter",       "convert",
    "disp",    "640x360",   "x",       "12",      "-12",          " 7",
    "a.ts",    "/abs/b.ts", "",        "CON",     "0:10-0:20,30", "pmt:0x1F0,caption:0x130",
    "0aF9",    "p.dll",     "P.dll",   "all",     "99999999999"};
constexpr size_t kValueCount = sizeof kValues / sizeof kValues[0];

char flip_case(char c)
{
    if (c >= 'a' && c <= 'z') {
        return static_cast<char>(c - 'a' + 'A');
    }
    if (c >= 'A' && c <= 'Z') {
        return static_cast<char>(c - 'A' + 'a');
    }
    return c;
}

/// An option begins with '-', and with '/' where '/' does not separate directories.
bool is_option(const std::string& argument)
{
    return !argument.empty() &&
           (argument[0] == '-' || (argument[0] == '/' && qv::platform::path_separator() != '/'));
}

/// Arguments of known words: options with mixed case and a tail now and then, values of the
/// kinds the options take, and raw bytes.
Arguments structured_arguments(Input& in)
{
    Arguments arguments;
    while (in.more() && arguments.size() < 64) {
        const uint8_t kind = in.next();
        const uint8_t pick = in.next();
        std::string argument;
        switch (kind % 4) {
            case 0:
            case 1: {
                argument = std::string("-") + kKeywords[pick % kKeywordCount];
                const uint8_t shape = in.next();
                for (size_t i = 1; i < argument.size(); ++i) {
                    if ((shape >> (i % 8)) & 1) {
                        argument[i] = flip_case(argument[i]);
                    }
                }
                if (kind & 0x10) {
                    argument += std::to_string(in.next());  // -loopN, or a tail to ignore
                }
                break;
            }
            case 2:
                argument = kValues[pick % kValueCount];
                break;
            default:
                for (size_t i = 0; i < pick % 12 && in.more(); ++i) {
                    const char c = static_cast<char>(in.next());
                    argument.push_back(c == '\0' ? '-' : c);
                }
                break;
        }
        arguments.push_back(argument);
    }
    return arguments;
}

/// The input's text split at NUL bytes.
Arguments raw_arguments(const std::string& text)
{
    Arguments arguments;
    size_t at = 0;
    while (at <= text.size() && arguments.size() < 256) {
        const size_t nul = std::min(text.find('\0', at), text.size());
        arguments.push_back(text.substr(at, nul - at));
        at = nul + 1;
    }
    return arguments;
}

qv::RunConfig scan(const Arguments& arguments)
{
    std::vector<const char*> argv{"quilvaren"};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    qv::RunConfig config;
    qv::scan_arguments(config, static_cast<int>(argv.size()), argv.data());
    return config;
}

bool same_plugins(const qv::PluginList& a, const qv::PluginList& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const qv::PluginEntry& x, const qv::PluginEntry& y) {
                          return x.plugin_path == y.plugin_path;
                      });
}

bool same_config(const qv::RunConfig& a, const qv::RunConfig& b)
{
    return a.mode == b.mode && a.source_list == b.source_list && a.cap_path == b.cap_path &&
           a.merge_path == b.merge_path && a.through_path == b.through_path &&
           a.filter_path == b.filter_path && a.log_enabled == b.log_enabled &&
           a.log_path == b.log_path && a.sync == b.sync && a.caption_by_text == b.caption_by_text &&
           a.detail == b.detail && a.buffer_size == b.buffer_size &&
           a.duration_spec == b.duration_spec && a.window_width == b.window_width &&
           a.window_height == b.window_height && same_plugins(a.plugin_host, b.plugin_host) &&
           a.capmerge_patch == b.capmerge_patch && a.dump_spec == b.dump_spec &&
           a.piddef_spec == b.piddef_spec && a.paramhex_spec == b.paramhex_spec &&
           a.keep_sdt == b.keep_sdt && a.keep_eit == b.keep_eit && a.keep_tot == b.keep_tot &&
           a.pause_at_start == b.pause_at_start && a.show_process_id == b.show_process_id &&
           a.report_drops == b.report_drops && a.report_wraparound == b.report_wraparound &&
           a.no_progress == b.no_progress && a.loop_enabled == b.loop_enabled &&
           a.loop_count == b.loop_count && a.no_delete == b.no_delete;
}

bool is_bare_argument(const Arguments& arguments, const std::string& value)
{
    return std::any_of(arguments.begin(), arguments.end(), [&](const std::string& argument) {
        return !is_option(argument) && argument == value;
    });
}

void check_scan(const Arguments& arguments)
{
    const qv::RunConfig config = scan(arguments);
    require(static_cast<int32_t>(config.mode) >= 0 && static_cast<int32_t>(config.mode) <= 5,
            "mode is one of the six");

    // Sources: non-empty bare arguments, in the order they were given.
    size_t next = 0;
    for (const std::string& source : config.source_list) {
        require(!source.empty(), "no empty source");
        while (next < arguments.size() &&
               (is_option(arguments[next]) || arguments[next] != source)) {
            ++next;
        }
        require(next < arguments.size(), "sources are bare arguments in their order");
        ++next;
    }
    for (const std::string* path : {&config.cap_path, &config.merge_path, &config.through_path,
                                    &config.filter_path, &config.log_path}) {
        require(path->empty() || is_bare_argument(arguments, *path), "paths are bare arguments");
    }
    for (const auto* value :
         {&config.duration_spec, &config.dump_spec, &config.piddef_spec, &config.paramhex_spec}) {
        require(!value->has_value() || is_bare_argument(arguments, **value),
                "option values are bare arguments");
    }
    for (size_t i = 0; i < config.plugin_host.size(); ++i) {
        const std::string& path = config.plugin_host[i].plugin_path;
        require(is_bare_argument(arguments, path), "plug-in paths are bare arguments");
        for (size_t k = 0; k < i; ++k) {
            require(config.plugin_host[k].plugin_path != path, "plug-in paths are distinct");
        }
    }

    Arguments flipped = arguments;
    for (std::string& argument : flipped) {
        if (is_option(argument)) {
            std::transform(argument.begin(), argument.end(), argument.begin(), flip_case);
        }
    }
    require(same_config(config, scan(flipped)), "option words are read without case");
}

// --- -duration ----------------------------------------------------------------------------------

/// Walks every item of `text`: one call per item, the cursor only moving forward, and a call
/// after the last one reads nothing.
void check_range_walk(std::string_view text)
{
    qv::TimeRangeCursor cursor;
    cursor.text = text;
    const size_t items = static_cast<size_t>(std::count(text.begin(), text.end(), ',')) + 1;
    size_t calls = 0;
    size_t position = 0;
    while (cursor.more) {
        qv::TimeRange range;
        qv::parse_time_ranges(cursor, range);
        ++calls;
        require(cursor.position >= position && cursor.position <= text.size(),
                "the range cursor moves forward inside the text");
        position = cursor.position;
        require(calls <= items, "no more ranges than items");
    }
    require(calls == items, "one range per item");
    qv::TimeRange after;
    qv::parse_time_ranges(cursor, after);
    require(!cursor.more && after.start == 0 && after.end == qv::kRangeOpenEnd,
            "nothing after the last item");
}

/// A time written in one of the forms of the syntax, and its ticks.
struct WrittenTime {
    std::string text;
    uint64_t ticks = 0;
};

WrittenTime written_time(Input& in)
{
    const uint64_t h = in.next16();
    const uint64_t m = in.next16();
    const uint64_t s = in.next16();
    const uint64_t ms = in.next16();
    const auto field = [&in](uint64_t value) {
        // Leading zeros now and then: a field is its digits' value whatever their count.
        return std::string(in.next() % 3, '0') + std::to_string(value);
    };
    WrittenTime time;
    switch (in.next() % 5) {
        case 0:
            time.text = field(s);
            time.ticks = s * 90000;
            break;
        case 1:
            time.text = field(h) + ":" + field(m);
            time.ticks = (h * 3600 + m * 60) * 90000;
            break;
        case 2:
            time.text = field(h) + ":" + field(m) + ":" + field(s);
            time.ticks = (h * 3600 + m * 60 + s) * 90000;
            break;
        default:
            time.text = field(h) + ":" + field(m) + ":" + field(s) + ((in.next() & 1) ? "." : ":") +
                        field(ms);
            time.ticks = (h * 3600 + m * 60 + s) * 90000 + ms * 90;
            break;
    }
    return time;
}

/// Items built from written times ("A-B", "A-", "-B", "T", "") read back as the ranges meant.
void check_written_ranges(Input& in)
{
    std::string text;
    std::vector<qv::TimeRange> expected;
    const size_t count = 1 + in.next() % 6;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += ",";
        }
        const WrittenTime a = written_time(in);
        const WrittenTime b = written_time(in);
        require(qv::parse_range_time(a.text) == a.ticks, "a written time reads back");
        switch (in.next() % 5) {
            case 0:
                text += a.text + "-" + b.text;
                expected.push_back({a.ticks, b.ticks});
                break;
            case 1:
                text += a.text + "-";
                expected.push_back({a.ticks, qv::kRangeOpenEnd});
                break;
            case 2:
                text += "-" + b.text;
                expected.push_back({0, b.ticks});
                break;
            case 3:
                text += b.text;
                expected.push_back({0, b.ticks});
                break;
            default:
                expected.push_back({0, 0});
                break;
        }
    }
    qv::TimeRangeCursor cursor;
    cursor.text = text;
    for (const qv::TimeRange& want : expected) {
        require(cursor.more, "every written item is read");
        qv::TimeRange range;
        qv::parse_time_ranges(cursor, range);
        require(range.start == want.start && range.end == want.end, "written ranges read back");
    }
    require(!cursor.more, "no range beyond the written ones");
}

// --- -piddef ------------------------------------------------------------------------------------

std::vector<std::string_view> items_of(std::string_view text)
{
    std::vector<std::string_view> items;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        items.push_back(text.substr(at, comma - at));
        at = comma + 1;
    }
    return items;
}

void check_piddef(std::string_view text)
{
    const qv::PidDefinitions pids = qv::parse_piddef(text);
    for (const uint16_t pid : {pids.pmt_pid, pids.caption_pid}) {
        require(pid >= 0x0020 && pid < 0x1FFF, "defined PIDs are usable");
    }
    require(pids.pmt_pid != pids.caption_pid, "the PMT and caption PIDs differ");
    const std::vector<std::string_view> items = items_of(text);
    const size_t given = static_cast<size_t>(std::count_if(
        items.begin(), items.end(), [](std::string_view item) { return !item.empty(); }));
    require(pids.ignored.size() <= given, "no more items left out than given");
    for (const qv::IgnoredPidItem& ignored : pids.ignored) {
        require(!ignored.item.empty() &&
                    std::find(items.begin(), items.end(), ignored.item) != items.end(),
                "a left-out item is an item of the text");
    }
}

void check_written_piddef(Input& in)
{
    const auto usable = [](uint16_t value) {
        return static_cast<uint16_t>(0x0020 + value % (0x1FFF - 0x0020));
    };
    const uint16_t pmt = usable(in.next16());
    uint16_t caption = usable(in.next16());
    if (caption == pmt) {
        caption = pmt == 0x1FFE ? 0x0020 : static_cast<uint16_t>(pmt + 1);
    }
    const uint8_t shape = in.next();
    char text[96];
    std::snprintf(text, sizeof text, "%s:0x%04x,%s:0x%X", (shape & 1) ? "PMT" : "pmt_pid", pmt,
                  (shape & 2) ? "Caption" : "caption", caption);
    const qv::PidDefinitions pids =
        qv::parse_piddef((shape & 4) ? std::string(",") + text + "," : std::string(text));
    require(pids.pmt_pid == pmt && pids.caption_pid == caption && pids.ignored.empty(),
            "written PIDs read back");
}

// --- -paramhex ----------------------------------------------------------------------------------

int hex_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

void check_paramhex(std::string_view text)
{
    const qv::ParamBytes param = qv::parse_paramhex(text);
    require(!param.stopped, "no stop was asked");
    require(param.bytes.size() == text.size() / 2, "one byte per character pair");
    require(param.odd_character_dropped == (text.size() % 2 != 0), "an odd character is dropped");
    const size_t paired = text.size() - text.size() % 2;
    const size_t non_hex = static_cast<size_t>(
        std::count_if(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(paired),
                      [](char c) { return hex_value(c) < 0; }));
    require(param.non_hex_characters == non_hex, "non-hex characters are counted");
    for (size_t i = 0; i < param.bytes.size(); ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high >= 0 && low >= 0) {
            require(param.bytes[i] == high * 16 + low, "a hex pair is its byte");
        }
    }
}

void check_written_paramhex(Input& in)
{
    std::vector<uint8_t> bytes;
    std::string text;
    const size_t count = in.next() % 24;
    const uint8_t shape = in.next();
    for (size_t i = 0; i < count; ++i) {
        bytes.push_back(in.next());
        char pair[3];
        std::snprintf(pair, sizeof pair, (shape >> (i % 8)) & 1 ? "%02X" : "%02x", bytes.back());
        text += pair;
    }
    const qv::ParamBytes param = qv::parse_paramhex(text);
    require(param.bytes == bytes && param.non_hex_characters == 0 && !param.odd_character_dropped,
            "written bytes read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::string text(data + 1, data + size);
    Input in{data + 1, size - 1};
    check_scan((data[0] & 1) ? structured_arguments(in) : raw_arguments(text));
    check_range_walk(text);
    check_piddef(text);
    check_paramhex(text);

    Input written{data + 1, size - 1};
    check_written_ranges(written);
    check_written_piddef(written);
    check_written_paramhex(written);
    return 0;
}
