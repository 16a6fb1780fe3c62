#include "subtitle/subtitle_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "base/ascii_text.h"
#include "platform/console.h"
#include "subtitle/subtitle_reader.h"

namespace qv {
namespace {

constexpr size_t kAssHeadSize = 18;  // byte order mark, "[Script Info]", CR LF
constexpr size_t kSrtHeadSize = 37;  // byte order mark, "1" CR LF, the time line, CR LF
constexpr std::string_view kScriptInfo = "[Script Info]";

/// The first bytes of the file (up to `size`), read from its start. False when the handle is
/// not a seekable file; `position` receives the file position before the probe.
bool read_head(platform::NativeHandle handle, size_t size, std::string& head, int64_t& position)
{
    if (handle == platform::kClosedHandle ||
        !platform::seek_file(handle, 0, platform::SeekOrigin::current, position)) {
        return false;
    }
    int64_t ignored = 0;
    if (!platform::seek_file(handle, 0, platform::SeekOrigin::begin, ignored)) {
        return false;
    }
    head.assign(size, '\0');
    size_t filled = 0;
    while (filled < size) {
        size_t got = 0;
        if (platform::read_file(handle, head.data() + filled, size - filled, got) !=
                platform::IoStatus::ok ||
            got == 0) {
            break;
        }
        filled += got;
    }
    head.resize(filled);
    return true;
}

size_t byte_order_mark_length(std::string_view head)
{
    return head.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

/// Length of the line end (CR LF or LF) at `at`, 0 when there is none.
size_t line_end_at(std::string_view head, size_t at)
{
    if (at < head.size() && head[at] == '\n') {
        return 1;
    }
    if (at + 1 < head.size() && head[at] == '\r' && head[at + 1] == '\n') {
        return 2;
    }
    return 0;
}

bool is_ass_head(std::string_view head, size_t bom)
{
    const std::string_view rest = head.substr(bom);
    return starts_with_ignoring_case(rest, kScriptInfo) && line_end_at(rest, kScriptInfo.size());
}

bool is_srt_head(std::string_view head, size_t bom)
{
    const std::string_view rest = head.substr(bom);
    if (rest.empty() || rest[0] != '1') {
        return false;
    }
    const size_t index_end = line_end_at(rest, 1);
    if (index_end == 0) {
        return false;
    }
    const size_t time_line = 1 + index_end;
    if (rest.size() < time_line + kSrtTimeLineLength) {
        return false;
    }
    return is_srt_time_line(rest.substr(time_line, kSrtTimeLineLength)) &&
           line_end_at(rest, time_line + kSrtTimeLineLength) != 0;
}

int32_t probe(platform::NativeHandle handle, size_t head_size,
              bool (*matches)(std::string_view, size_t))
{
    std::string head;
    int64_t position = 0;
    if (!read_head(handle, head_size, head, position)) {
        return kNotThisFormat;
    }
    const size_t bom = byte_order_mark_length(head);
    int64_t ignored = 0;
    if (matches(head, bom)) {
        return platform::seek_file(handle, static_cast<int64_t>(bom), platform::SeekOrigin::begin,
                                   ignored)
                   ? static_cast<int32_t>(bom)
                   : kNotThisFormat;
    }
    (void)platform::seek_file(handle, position, platform::SeekOrigin::begin, ignored);
    return kNotThisFormat;
}

int32_t probe_path(const std::string& path, int32_t (*probe_handle)(platform::NativeHandle))
{
    // A pipe or device would lose the bytes the probe reads: only regular files are probed.
    if (path.empty() || platform::path_kind(path) != platform::PathKind::regular) {
        return kNotThisFormat;
    }
    platform::NativeHandle handle = platform::open_for_reading(path);
    if (handle == platform::kClosedHandle) {
        return kNotThisFormat;
    }
    const int32_t result = probe_handle(handle);
    platform::close_handle(handle);
    return result;
}

/// Appends the bytes to the line, leaving out NUL bytes.
void append_without_nul(std::string& line, const char* bytes, size_t count)
{
    const char* end = bytes + count;
    while (bytes < end) {
        const char* nul = static_cast<const char*>(std::memchr(bytes, '\0', end - bytes));
        const char* stop = nul != nullptr ? nul : end;
        line.append(bytes, stop);
        bytes = nul != nullptr ? nul + 1 : end;
    }
}

/// Reads the next block; false at the end of the file or after a failed read.
bool refill(SubtitleLineReader& reader)
{
    if (reader.at_end) {
        return false;
    }
    if (reader.block.size() != kLineReadBlock) {
        reader.block.resize(kLineReadBlock);
    }
    size_t got = 0;
    const platform::IoStatus status =
        platform::read_file(reader.handle, reader.block.data(), reader.block.size(), got);
    if (status != platform::IoStatus::ok || got == 0) {
        reader.at_end = true;
        reader.read_failed = status == platform::IoStatus::failed;
        return false;
    }
    reader.begin = 0;
    reader.end = got;
    return true;
}

}  // namespace

int32_t probe_ass(platform::NativeHandle handle)
{
    return probe(handle, kAssHeadSize, is_ass_head);
}

int32_t probe_srt(platform::NativeHandle handle)
{
    return probe(handle, kSrtHeadSize, is_srt_head);
}

int32_t probe_ass_path(const std::string& path)
{
    return probe_path(path, probe_ass);
}

int32_t probe_srt_path(const std::string& path)
{
    return probe_path(path, probe_srt);
}

SubtitleLineReader open_line_reader(platform::NativeHandle handle)
{
    SubtitleLineReader reader;
    reader.handle = handle;
    int64_t position = 0;
    if (handle != platform::kClosedHandle &&
        platform::seek_file(handle, 0, platform::SeekOrigin::current, position)) {
        reader.position = position;
    }
    return reader;
}

bool read_subtitle_line(SubtitleLineReader& reader, std::string& line)
{
    platform::pump_messages();
    line.clear();
    if (reader.has_unread) {
        reader.has_unread = false;
        line.swap(reader.unread);
        reader.position = reader.unread_end;
        return true;
    }
    if (reader.handle == platform::kClosedHandle) {
        return false;
    }
    size_t taken = 0;  // bytes of the file taken into this line, NULs and line end included
    for (;;) {
        if (reader.begin == reader.end && !refill(reader)) {
            break;
        }
        const char* from = reader.block.data() + reader.begin;
        const size_t available = reader.end - reader.begin;
        const char* lf = static_cast<const char*>(std::memchr(from, '\n', available));
        const size_t count = lf != nullptr ? static_cast<size_t>(lf - from) : available;
        append_without_nul(line, from, count);
        reader.begin += count;
        taken += count;
        if (lf != nullptr) {
            ++reader.begin;
            ++taken;
            break;
        }
    }
    if (taken == 0) {
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    reader.position += static_cast<int64_t>(taken);
    return true;
}

void unread_subtitle_line(SubtitleLineReader& reader, std::string line, int64_t position_before)
{
    reader.has_unread = true;
    reader.unread = std::move(line);
    reader.unread_end = reader.position;
    reader.position = position_before;
}

}  // namespace qv
