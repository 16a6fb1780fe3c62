#include "pump/time_ranges.h"

namespace qv {
namespace {

/// Digits up to the first non-digit, 0 when there are none, kept as a 16-bit value.
uint16_t read_field(std::string_view text, size_t& at)
{
    uint16_t value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        value = static_cast<uint16_t>(value * 10 + (text[at] - '0'));
        ++at;
    }
    return value;
}

}  // namespace

uint64_t parse_range_time(std::string_view text)
{
    // Up to four fields; ":" separates them, and a "." after the third field introduces the
    // milliseconds as well.
    uint16_t fields[4] = {};
    size_t count = 0;
    size_t at = 0;
    while (count < 4) {
        fields[count++] = read_field(text, at);
        if (at >= text.size()) {
            break;
        }
        const char c = text[at];
        if (c == ':' || (c == '.' && count == 3)) {
            ++at;
            continue;
        }
        break;
    }
    uint64_t hours = 0;
    uint64_t minutes = 0;
    uint64_t seconds = 0;
    uint64_t milliseconds = 0;
    switch (count) {
    case 1:
        seconds = fields[0];
        break;
    case 2:  // one colon: hours and minutes
        hours = fields[0];
        minutes = fields[1];
        break;
    default:
        hours = fields[0];
        minutes = fields[1];
        seconds = fields[2];
        milliseconds = count == 4 ? fields[3] : 0;
        break;
    }
    return (hours * 3600 + minutes * 60 + seconds) * 90000 + milliseconds * 90;
}

void parse_time_ranges(TimeRangeCursor& cursor, TimeRange& range)
{
    range = TimeRange{};
    if (!cursor.more || cursor.position > cursor.text.size()) {
        cursor.more = false;
        return;
    }
    std::string_view rest = cursor.text.substr(cursor.position);
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    if (comma == std::string_view::npos) {
        cursor.more = false;
        cursor.position = cursor.text.size();
    } else {
        cursor.position += comma + 1;
    }

    if (item.empty()) {
        range.start = 0;
        range.end = 0;
        return;
    }
    const size_t dash = item.find('-');
    if (dash == std::string_view::npos) {
        range.start = 0;
        range.end = parse_range_time(item);
        return;
    }
    const std::string_view before = item.substr(0, dash);
    const std::string_view after = item.substr(dash + 1);
    range.start = before.empty() ? 0 : parse_range_time(before);
    range.end = after.empty() ? kRangeOpenEnd : parse_range_time(after);
}

}  // namespace qv
