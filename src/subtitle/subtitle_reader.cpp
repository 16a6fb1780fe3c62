#include "subtitle/subtitle_reader.h"

#include <limits>
#include <string>

#include "base/ascii_text.h"
#include "subtitle/sjis_text.h"

namespace qv {
namespace {

constexpr int64_t kDecimalLimit = int64_t{1} << 53;  // far past every field; keeps sums exact

/// The decimal number at the start of `text` as a C library reads one (white space, sign,
/// digits; 0 without digits), saturating instead of overflowing.
int64_t parse_decimal(std::string_view text) { return parse_bounded_decimal(text, kDecimalLimit); }

/// A number stored into one of the 16-bit clock fields (the value modulo 65536, as such a field
/// holds it).
uint16_t clock_field(int64_t value)
{
    return static_cast<uint16_t>(static_cast<uint64_t>(value));
}

/// Milliseconds are capped at 999 before they are narrowed to their field, so that a long
/// fraction cannot wrap around to a small value.
uint16_t millisecond_field(int64_t value)
{
    return (value < 0 || value > 999) ? 999 : static_cast<uint16_t>(value);
}

int64_t saturating_add(int64_t a, int64_t b)
{
    if (b > 0 && a > std::numeric_limits<int64_t>::max() - b) {
        return std::numeric_limits<int64_t>::max();
    }
    if (b < 0 && a < std::numeric_limits<int64_t>::min() - b) {
        return std::numeric_limits<int64_t>::min();
    }
    return a + b;
}

/// A subtitle time as delivered: mapped through the patch time table (kept when no entry
/// applies), moved by the time offset, and never before 0, since a negative time would wrap
/// around to the far end of the 33-bit PTS range.
int64_t deliver_time(const CaptionEncoderState& state, int64_t ticks)
{
    const int64_t mapped = lookup_patch_time(state.patch_table, ticks);
    const int64_t moved =
        saturating_add(mapped == kNoPatchTime ? ticks : mapped, state.time_offset);
    return moved < 0 ? 0 : moved;
}

/// Stores a complete entry; false (nothing stored) for an entry that ends at or before time 0,
/// which an offset has moved out of the stream.
bool store_entry(CaptionEncoderState& state, int64_t start, int64_t end, std::string& text)
{
    if (end <= 0) {
        return false;
    }
    state.start_time = start;
    state.end_time = end;
    state.caption_text.swap(text);
    return true;
}

// --- ASS ------------------------------------------------------------------------------------

/// "h:mm:ss.cc" with any number of hour digits; the separators must lie inside the piece.
bool parse_ass_time(std::string_view piece, int64_t& ticks)
{
    if (piece.size() < 10) {
        return false;
    }
    const size_t colon = piece.find(':');
    if (colon == std::string_view::npos || colon + 6 >= piece.size() || piece[colon + 3] != ':' ||
        piece[colon + 6] != '.') {
        return false;
    }
    const int64_t hours = parse_decimal(piece.substr(0, colon));
    const int64_t minutes = parse_decimal(piece.substr(colon + 1, 2));
    const int64_t seconds = parse_decimal(piece.substr(colon + 4, 2));
    const int64_t centiseconds = parse_decimal(piece.substr(colon + 7));
    ticks = subtitle_time_to_ticks(clock_field(hours), clock_field(minutes), clock_field(seconds),
                                   millisecond_field(centiseconds * 10));
    return true;
}

/// The text of a Dialogue's Text piece: "\N" and "\n" become LF before the conversion, while the
/// text is still UTF-8, where a backslash byte is always the character itself.
std::string convert_ass_text(std::string_view piece)
{
    std::string utf8;
    utf8.reserve(piece.size());
    for (size_t at = 0; at < piece.size(); ++at) {
        if (piece[at] == '\\' && at + 1 < piece.size() &&
            (piece[at + 1] == 'n' || piece[at + 1] == 'N')) {
            utf8.push_back('\n');
            ++at;
        } else {
            utf8.push_back(piece[at]);
        }
    }
    return utf8_to_sjis(utf8).value_or(std::string());
}

/// Calls `visit(number, piece)` for each comma-separated piece of `fields`, one leading space
/// skipped. When `visit` returns false the walk ends.
template <typename Visit>
void for_each_piece(std::string_view fields, Visit visit)
{
    int32_t number = 0;
    size_t at = 0;
    for (;;) {
        const size_t comma = fields.find(',', at);
        std::string_view piece = fields.substr(
            at, comma == std::string_view::npos ? std::string_view::npos : comma - at);
        if (piece.starts_with(' ')) {
            piece.remove_prefix(1);
        }
        if (!visit(number, piece, fields.substr(at)) || comma == std::string_view::npos) {
            return;
        }
        at = comma + 1;
        ++number;
    }
}

void read_ass_format(CaptionEncoderState& state, std::string_view fields)
{
    for_each_piece(fields, [&](int32_t number, std::string_view piece, std::string_view) {
        if (starts_with_ignoring_case(piece, "Start")) {
            state.start_column = number;
        } else if (starts_with_ignoring_case(piece, "End")) {
            state.end_column = number;
        } else if (starts_with_ignoring_case(piece, "Text")) {
            state.text_column = number;
        }
        return true;
    });
}

/// One Dialogue line; true when it was complete and stored.
bool read_ass_dialogue(CaptionEncoderState& state, std::string_view fields)
{
    // The text may hold commas: it runs to the end of the line, unless (in an unusual column
    // order) a time column still follows it.
    const bool text_to_end =
        state.text_column > state.start_column && state.text_column > state.end_column;
    bool start_found = false;
    bool end_found = false;
    bool text_found = false;
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
    for_each_piece(fields, [&](int32_t number, std::string_view piece, std::string_view rest) {
        int64_t ticks = 0;
        if (number == state.start_column && parse_ass_time(piece, ticks)) {
            start = deliver_time(state, ticks);
            start_found = true;
        }
        if (number == state.end_column && parse_ass_time(piece, ticks)) {
            end = deliver_time(state, ticks);
            end_found = true;
        }
        if (number == state.text_column) {
            if (text_to_end) {
                piece = rest.starts_with(' ') ? rest.substr(1) : rest;
            }
            text = convert_ass_text(piece);
            text_found = true;
            return !text_to_end;
        }
        return true;
    });
    return start_found && end_found && text_found && store_entry(state, start, end, text);
}

/// "PlayResX:" and "PlayResY:": a size of 0 or below keeps the size held.
void read_play_resolution(int32_t& field, std::string_view value)
{
    if (value.starts_with(' ')) {
        value.remove_prefix(1);
    }
    const int64_t number = parse_decimal(value);
    if (number > 0) {
        field = number > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                             : static_cast<int32_t>(number);
    }
}

// --- SubRip -----------------------------------------------------------------------------------

/// The entry of one SubRip call, built up line by line.
struct SrtBlock {
    int64_t last_index = 0;
    bool has_index = false;
    bool has_times = false;
    bool has_text = false;
    int64_t start = 0;
    int64_t end = 0;
    std::string text;
};

void clear_block(SrtBlock& block)
{
    block.has_index = false;
    block.has_times = false;
    block.has_text = false;
    block.text.clear();
}

int64_t srt_clock(std::string_view line, size_t at)
{
    return subtitle_time_to_ticks(clock_field(parse_decimal(line.substr(at, 2))),
                                  clock_field(parse_decimal(line.substr(at + 3, 2))),
                                  clock_field(parse_decimal(line.substr(at + 6, 2))),
                                  millisecond_field(parse_decimal(line.substr(at + 9, 3))));
}

/// In a block that has no text yet, a line that reads as an index (above 0) followed by a time
/// line begins the next block: the block before it had no text lines. Its number need not be
/// higher (numbering that starts again, repeated numbers). The line after it is handed back to
/// the reader either way.
bool begins_next_block(SubtitleLineReader& reader, std::string_view line)
{
    if (parse_decimal(line) <= 0) {
        return false;
    }
    const int64_t before = reader.position;
    std::string next;
    if (!read_subtitle_line(reader, next)) {
        return false;
    }
    const bool time_line_follows = is_srt_time_line(next);
    unread_subtitle_line(reader, std::move(next), before);
    return time_line_follows;
}

void take_srt_index(CaptionEncoderState& state, SrtBlock& block, int64_t index)
{
    if (index > block.last_index) {
        block.last_index = index;
        block.has_index = true;
        state.reader_state = kSrtExpectTimes;
    } else {
        clear_block(block);
        state.reader_state = kSrtExpectIndex;
    }
}

void take_srt_line(SubtitleLineReader& reader, CaptionEncoderState& state, SrtBlock& block,
                   const std::string& line)
{
    switch (state.reader_state) {
        case kSrtExpectTimes:
            if (!is_srt_time_line(line)) {
                clear_block(block);
                state.reader_state = kSrtExpectIndex;
                return;
            }
            block.start = deliver_time(state, srt_clock(line, 0));
            block.end = deliver_time(state, srt_clock(line, 17));
            block.has_times = true;
            state.reader_state = kSrtReadText;
            return;
        case kSrtReadText:
            if (!block.has_text && begins_next_block(reader, line)) {
                // The block without text is dropped; the next one is read as its own.
                clear_block(block);
                block.last_index = 0;
                take_srt_index(state, block, parse_decimal(line));
                return;
            }
            block.text += utf8_to_sjis(line).value_or(std::string());
            block.text.push_back('\n');
            block.has_text = true;
            return;
        default:
            take_srt_index(state, block, parse_decimal(line));
            return;
    }
}

}  // namespace

bool is_srt_time_line(std::string_view line)
{
    return line.size() >= kSrtTimeLineLength && line[2] == ':' && line[5] == ':' &&
           line[8] == ',' && line.substr(12, 5) == " --> " && line[19] == ':' && line[22] == ':' &&
           line[25] == ',';
}

bool read_ass_entry(SubtitleLineReader& reader, CaptionEncoderState& state)
{
    std::string line;
    while (read_subtitle_line(reader, line)) {
        const std::string_view text = line;
        if (text.empty() || text[0] == ';') {
            continue;
        }
        if (starts_with_ignoring_case(text, "[Script Info]")) {
            state.reader_state = kAssOutsideEvents;
        } else if (starts_with_ignoring_case(text, "[Events]")) {
            state.reader_state = kAssInEvents;
            state.start_column = -1;
            state.end_column = -1;
            state.text_column = -1;
        } else if (state.reader_state == kAssOutsideEvents) {
            if (starts_with_ignoring_case(text, "PlayResX:")) {
                read_play_resolution(state.display_width, text.substr(9));
            } else if (starts_with_ignoring_case(text, "PlayResY:")) {
                read_play_resolution(state.display_height, text.substr(9));
            }
        } else if (state.reader_state == kAssInEvents) {
            if (starts_with_ignoring_case(text, "Format:")) {
                read_ass_format(state, text.substr(7));
            } else if (starts_with_ignoring_case(text, "Dialogue:") &&
                       read_ass_dialogue(state, text.substr(9))) {
                return true;
            }
        }
    }
    return false;
}

bool read_srt_entry(SubtitleLineReader& reader, CaptionEncoderState& state)
{
    SrtBlock block;
    std::string line;
    for (;;) {
        const bool got_line = read_subtitle_line(reader, line);
        if (!got_line || line.empty()) {
            if (block.has_index && block.has_times && block.has_text) {
                state.reader_state = kSrtExpectIndex;
                if (store_entry(state, block.start, block.end, block.text)) {
                    return true;
                }
                clear_block(block);
            }
            if (!got_line) {
                return false;
            }
            continue;
        }
        take_srt_line(reader, state, block, line);
    }
}

}  // namespace qv
