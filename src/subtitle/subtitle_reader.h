#pragma once
// ASS and SubRip entries, one per call: start and end in 90 kHz ticks (through the patch time
// table and the time offset) and the text as Shift_JIS with LF line breaks.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "subtitle/caption_encoder_state.h"
#include "subtitle/subtitle_file.h"

namespace qv {

/// Values of CaptionEncoderState::reader_state.
inline constexpr int32_t kAssOutsideEvents = 0;
inline constexpr int32_t kAssInEvents = 2;
inline constexpr int32_t kSrtExpectIndex = 0;
inline constexpr int32_t kSrtExpectTimes = 1;
inline constexpr int32_t kSrtReadText = 2;

/// Length of a SubRip time line "hh:mm:ss,mmm --> hh:mm:ss,mmm".
inline constexpr size_t kSrtTimeLineLength = 29;

/// True for the bytes that open a two-byte character in code page 932 (0x81-0x9F, 0xE0-0xFC).
constexpr bool is_sjis_lead_byte(uint8_t byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

/// ((hours × 60 + minutes) × 60 + seconds) × 90000 + milliseconds × 90, milliseconds above 999
/// taken as 999.
constexpr int64_t subtitle_time_to_ticks(uint16_t hours, uint16_t minutes, uint16_t seconds,
                                         uint16_t milliseconds)
{
    const int32_t whole_seconds = (int32_t{hours} * 60 + minutes) * 60 + seconds;
    const int32_t ms = milliseconds > 999 ? 999 : milliseconds;
    return int64_t{whole_seconds} * 90000 + int64_t{ms} * 90;
}

/// True when the line begins with the fixed separators of a SubRip time line (the digits are not
/// looked at; bytes after the 29th are ignored).
bool is_srt_time_line(std::string_view line);

/// Reads on until one ASS Dialogue is complete and stores it into start_time, end_time and
/// caption_text (true), or until the end of the file (false). The Text column runs to the end of
/// the line; "\N" and "\n" become LF.
[[nodiscard]] bool read_ass_entry(SubtitleLineReader& reader, CaptionEncoderState& state);

/// The same for a SubRip block: its text lines, each followed by LF. A block is complete at an
/// empty line or at the end of the file; a block without text lines is skipped.
[[nodiscard]] bool read_srt_entry(SubtitleLineReader& reader, CaptionEncoderState& state);

}  // namespace qv
