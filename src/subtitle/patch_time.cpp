#include "subtitle/patch_time.h"

#include "base/ascii_text.h"
#include "base/time_convert.h"
#include "platform/file.h"
#include "subtitle/subtitle_file.h"

namespace qv {
namespace {

constexpr std::string_view kEntryMark = "<><><><><>PATCHTIME;";
constexpr size_t kDateOffset = 20;
constexpr size_t kDateDigits = 14;
constexpr size_t kColonOffset = 34;
constexpr size_t kStreamTimeOffset = 35;
constexpr size_t kMinimumEntryLength = 40;
constexpr int64_t kTicksPerSecond = 90000;
constexpr int64_t kMaximumHours = 0x7FFFFFFF;  // keeps hours × 3600 × 90000 inside 64 bits

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

/// Digits as a number; the text holds only digits.
int digits_value(std::string_view digits)
{
    int value = 0;
    for (const char c : digits) {
        value = value * 10 + (c - '0');
    }
    return value;
}

/// The date field: the first run of digits in its 14 bytes must hold all 14.
bool parse_local_date(std::string_view field, int64_t& wall_clock)
{
    size_t first = 0;
    while (first < field.size() && !is_digit(field[first])) {
        ++first;
    }
    size_t last = first;
    while (last < field.size() && is_digit(field[last])) {
        ++last;
    }
    if (last - first < kDateDigits) {
        return false;
    }
    const std::string_view digits = field.substr(first, kDateDigits);
    platform::CalendarTime local;
    local.year = digits_value(digits.substr(0, 4));
    local.month = digits_value(digits.substr(4, 2));
    local.day = digits_value(digits.substr(6, 2));
    local.hour = digits_value(digits.substr(8, 2));
    local.minute = digits_value(digits.substr(10, 2));
    local.second = digits_value(digits.substr(12, 2));
    // Fields past their range fold as the file format has it; a month or day of 0 names no
    // date either and counts as 1.
    if (local.month > 12 || local.month == 0) {
        local.month = 1;
    }
    if (local.day > 31 || local.day == 0) {
        local.day = 1;
    }
    if (local.hour > 23) {
        local.hour = 0;
    }
    if (local.minute > 59) {
        local.minute = 0;
    }
    if (local.second > 59) {
        local.second = 0;
    }
    return local_time_to_unix(local, wall_clock);  // false for a day past the month's end
}

}  // namespace

int64_t lookup_patch_time(const std::vector<PatchTimeEntry>& table, int64_t ticks)
{
    int64_t result = kNoPatchTime;
    for (const PatchTimeEntry& entry : table) {
        if (ticks >= entry.source_ticks) {
            result = entry.target_ticks + (ticks - entry.source_ticks);
        } else if (result != kNoPatchTime) {
            break;
        }
    }
    return result;
}

bool parse_patch_time_line(std::string_view line, int64_t& wall_clock, int64_t& stream_seconds)
{
    if (line.size() < kMinimumEntryLength || !line.starts_with(kEntryMark) ||
        line[kColonOffset] != ':') {
        return false;
    }
    if (!parse_local_date(line.substr(kDateOffset, kDateDigits), wall_clock)) {
        return false;
    }
    const std::string_view stream_time = line.substr(kStreamTimeOffset);
    const size_t hours_length = stream_time.size() - 4;
    const int64_t hours = parse_bounded_decimal(stream_time.substr(0, hours_length), kMaximumHours);
    const int64_t minutes = parse_bounded_decimal(stream_time.substr(hours_length, 2), 99);
    const int64_t seconds = parse_bounded_decimal(stream_time.substr(hours_length + 2, 2), 99);
    stream_seconds = hours * 3600 + minutes * 60 + seconds;
    return true;
}

size_t read_patch_time_file(std::vector<PatchTimeEntry>& table, const std::string& path)
{
    if (path.empty() || !platform::path_exists(path)) {
        return 0;
    }
    platform::NativeHandle handle = platform::open_for_reading(path);
    if (handle == platform::kClosedHandle) {
        return 0;
    }
    SubtitleLineReader reader = open_line_reader(handle);
    size_t appended = 0;
    std::string line;
    while (read_subtitle_line(reader, line)) {
        PatchTimeEntry entry;
        if (!parse_patch_time_line(line, entry.wall_clock, entry.stream_seconds)) {
            continue;
        }
        const int64_t reference = table.empty() ? entry.wall_clock : table.front().wall_clock;
        entry.relative_seconds = entry.wall_clock - reference;
        entry.target_ticks = entry.stream_seconds * kTicksPerSecond;
        entry.source_ticks = entry.relative_seconds * kTicksPerSecond;
        table.push_back(entry);
        ++appended;
    }
    platform::close_handle(handle);
    return appended;
}

}  // namespace qv
