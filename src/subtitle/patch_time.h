#pragma once
// The patch time file beside a subtitle file: lines that map subtitle times onto the time line of
// a recording, segment by segment.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

/// One entry line of the patch time file.
struct PatchTimeEntry {
    int64_t wall_clock = 0;        ///< the line's local date and time as seconds since 1970 UTC
    int64_t stream_seconds = 0;    ///< the stream time the line names
    int64_t relative_seconds = 0;  ///< wall_clock minus the wall_clock of the first entry
    int64_t target_ticks = 0;      ///< stream_seconds in 90 kHz ticks
    int64_t source_ticks = 0;      ///< relative_seconds in 90 kHz ticks: where the segment begins
};

/// What lookup_patch_time gives when no entry applies.
inline constexpr int64_t kNoPatchTime = std::numeric_limits<int64_t>::min();

/// The stream time of subtitle time `ticks`: from the last entry whose source_ticks is not past
/// `ticks`, walking in file order until the first entry beyond it after a match. kNoPatchTime
/// when no entry matched (an empty table included).
int64_t lookup_patch_time(const std::vector<PatchTimeEntry>& table, int64_t ticks);

/// The wall clock and the stream seconds of an entry line: "<><><><><>PATCHTIME;", 14 digits of
/// local date and time YYYYMMDDhhmmss, ':', then hours (any number of digits), two digits of
/// minutes and two of seconds. False for any other line, for fewer than 14 date digits, and for
/// a date that is no local time (a month or day of 0 counts as 1; fields past their range are
/// folded as the file format has it).
[[nodiscard]] bool parse_patch_time_line(std::string_view line, int64_t& wall_clock,
                                         int64_t& stream_seconds);

/// Appends one entry per entry line of the file at `path`, relative to the table's first entry.
/// Returns the number of entries appended; nothing happens for an empty, missing or unreadable
/// path.
size_t read_patch_time_file(std::vector<PatchTimeEntry>& table, const std::string& path);

}  // namespace qv
