#pragma once
// Subtitle files as bytes: the format probes on an open file, and a buffered line reader that
// the ASS, SubRip and patch time readers share.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

namespace qv {

inline constexpr int32_t kNotThisFormat = -1;
inline constexpr size_t kLineReadBlock = 65536;  ///< bytes asked of the file per read

/// Length of the UTF-8 byte order mark (0 or 3) when the open file is an ASS script, else -1.
/// A script begins with "[Script Info]" (ASCII letters without case) and a CR LF or LF line end.
/// On success the file position is left just after the byte order mark; otherwise it is set back
/// to where it was.
int32_t probe_ass(platform::NativeHandle handle);
/// The same for a SubRip file: a first block whose index line is "1" and whose time line has the
/// fixed layout hh:mm:ss,mmm --> hh:mm:ss,mmm, each line ended by CR LF or LF.
int32_t probe_srt(platform::NativeHandle handle);
/// The probes on a path: -1 when the path is empty, names no regular file, or cannot be opened.
int32_t probe_ass_path(const std::string& path);
int32_t probe_srt_path(const std::string& path);

/// Reads the lines of an open file from its current position through a buffer. The handle is
/// borrowed.
struct SubtitleLineReader {
    platform::NativeHandle handle = platform::kClosedHandle;
    std::vector<char> block;  ///< bytes read ahead of the lines delivered
    size_t begin = 0;         ///< first byte of `block` not yet taken into a line
    size_t end = 0;           ///< one past the valid bytes of `block`
    bool at_end = false;      ///< the file gave no more bytes
    bool read_failed = false;  ///< ... because a read failed, not because the file ended
    int64_t position = 0;     ///< file offset just after the last line delivered
    bool has_unread = false;  ///< `unread` is delivered again by the next read
    std::string unread;
    int64_t unread_end = 0;  ///< `position` after `unread`
};

/// A reader for `handle` that starts at the handle's current file position.
SubtitleLineReader open_line_reader(platform::NativeHandle handle);

/// The next line, without its LF and without a CR right before that LF; NUL bytes are dropped.
/// A last line without LF is delivered too. Lines may be of any length. False at the end of the
/// file, after a failed read, or for a closed handle. Waiting window messages are dispatched
/// first.
[[nodiscard]] bool read_subtitle_line(SubtitleLineReader& reader, std::string& line);

/// Hands `line`, the line just read, back so that the next read delivers it again.
void unread_subtitle_line(SubtitleLineReader& reader, std::string line, int64_t position_before);

}  // namespace qv
