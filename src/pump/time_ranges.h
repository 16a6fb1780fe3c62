#pragma once
// The -duration syntax: a comma-separated list of stream-time ranges in 90 kHz ticks, read one
// item per call while the pump walks through the stream.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

inline constexpr uint64_t kRangeOpenEnd = UINT64_MAX;

/// One range of stream time, both ends included.
struct TimeRange {
    uint64_t start = 0;
    uint64_t end = kRangeOpenEnd;
};

/// Position in the -duration text. `more` is false once the last item has been read.
struct TimeRangeCursor {
    std::string_view text;
    size_t position = 0;
    bool more = true;
};

/// Reads the item at the cursor into `range` and moves the cursor behind the next comma (clearing
/// `more` when none follows). Items: "A-B", "A-" (to the end), "-B" (from 0), "T" (0 to T); an
/// empty item gives 0 to 0. A time is seconds ("90"), hours and minutes ("1:30"), or
/// hours:minutes:seconds with milliseconds behind a fourth ":" or a "." ("0:0:5.250").
void parse_time_ranges(TimeRangeCursor& cursor, TimeRange& range);

/// One time of the syntax above in 90 kHz ticks (the text ends at "-", "," or its end).
uint64_t parse_range_time(std::string_view text);

}  // namespace qv
