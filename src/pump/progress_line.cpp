// The progress and drop lines of the stream pump.
#include "pump/progress_line.h"

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/console_output.h"
#include "pump/stream_pump.h"

namespace qv {
namespace {

/// Appends `text` to the line, as much as fits.
void append_text(LineText& line, std::string_view text)
{
    const size_t count = std::min(text.size(), sizeof line.text - 1 - line.length);
    std::memcpy(line.text + line.length, text.data(), count);
    line.length += count;
}

/// Appends a piece: nothing when it is empty, " , " before it when another piece came first.
void add_piece(LineText& line, std::string_view piece)
{
    if (piece.empty()) {
        return;
    }
    if (line.pieces++ > 0) {
        append_text(line, " , ");
    }
    append_text(line, piece);
}

std::string_view line_view(const LineText& line)
{
    return {line.text, line.length};
}

/// The line as a C string (for a printf %s).
const char* line_c_str(LineText& line)
{
    line.text[line.length] = '\0';
    return line.text;
}

/// Writes `value` in decimal with at least `width` digits (zero-filled) at `out`; returns the
/// characters written (at most 20). The progress line is built once per packet in through mode,
/// where printf's cost would dominate.
size_t put_decimal(char* out, uint64_t value, int width)
{
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0 && count < sizeof digits);
    while (count < static_cast<size_t>(width) && count < sizeof digits) {
        digits[count++] = '0';
    }
    for (size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

/// Writes `value` in upper-case hexadecimal at `out`; returns the characters written (1 to 16).
size_t put_hex(char* out, uint64_t value)
{
    const size_t count = (67 - static_cast<size_t>(std::countl_zero(value | 1))) / 4;
    for (size_t i = count; i-- > 0; value >>= 4) {
        out[i] = "0123456789ABCDEF"[value & 0x0F];
    }
    return count;
}

/// "PCR h:mm:ss.mmm" of a clock time.
std::string_view clock_piece(char (&buffer)[48], const ClockTime& time)
{
    if (time.hours < 0 || time.minutes < 0 || time.seconds < 0 || time.milliseconds < 0) {
        const int length = std::snprintf(buffer, sizeof buffer, "PCR %d:%02d:%02d.%03d", time.hours,
                                         time.minutes, time.seconds, time.milliseconds);
        return {buffer, length < 0 ? 0 : std::min<size_t>(static_cast<size_t>(length), 47)};
    }
    size_t length = 0;
    std::memcpy(buffer, "PCR ", 4);
    length = 4;
    length += put_decimal(buffer + length, static_cast<uint64_t>(time.hours), 1);
    buffer[length++] = ':';
    length += put_decimal(buffer + length, static_cast<uint64_t>(time.minutes), 2);
    buffer[length++] = ':';
    length += put_decimal(buffer + length, static_cast<uint64_t>(time.seconds), 2);
    buffer[length++] = '.';
    length += put_decimal(buffer + length, static_cast<uint64_t>(time.milliseconds), 3);
    return {buffer, length};
}

bool same_time(const ClockTime& a, const ClockTime& b)
{
    return a.milliseconds == b.milliseconds && a.seconds == b.seconds && a.minutes == b.minutes &&
           a.hours == b.hours;
}

/// "－ [P %] , PCR h:mm:ss.mmm [, TOT …] [, +0xOFFSET]\r" of the packet at `position` (-1: none).
void print_progress_line(StreamPump& pump, int64_t position)
{
    ProgressLine& progress = pump.progress_line;
    LineText& line = progress.line;
    int64_t share = -1;
    if (position >= 0) {
        share = pump.total_size > 0 ? position * 100 / pump.total_size : 0;
        share = share > 100 ? 100 : share;
    }
    const ClockTime& time = current_clock(pump).current_time;
    if (!progress.head_valid || share != progress.share || !same_time(time, progress.time) ||
        pump.tot_text != progress.tot_text) {
        line = LineText{};
        append_text(line, "－ ");
        if (share >= 0) {
            char percent[16];
            const size_t digits = put_decimal(percent, static_cast<uint64_t>(share), 1);
            std::memcpy(percent + digits, " %", 2);
            add_piece(line, {percent, digits + 2});
        }
        char pcr[48];
        add_piece(line, clock_piece(pcr, time));
        add_piece(line, pump.tot_text);
        progress.head_valid = true;
        progress.head_length = line.length;
        progress.head_pieces = line.pieces;
        progress.share = share;
        progress.time = time;
        progress.tot_text = pump.tot_text;
    }
    line.length = progress.head_length;
    line.pieces = progress.head_pieces;
    if (position >= 0) {
        // " , +0x" and up to 16 digits, written in place when they fit (they always do but for
        // an absurdly long TOT text).
        constexpr size_t kLongest = 3 + 3 + 16 + 1;
        if (line.length + kLongest < sizeof line.text && line.pieces > 0) {
            std::memcpy(line.text + line.length, " , +0x", 6);
            line.length += 6;
            line.length += put_hex(line.text + line.length, static_cast<uint64_t>(position));
            line.text[line.length++] = '\r';
            print_status_line(line_view(line));
            return;
        }
        char offset[24];
        std::memcpy(offset, "+0x", 3);
        add_piece(line, {offset, 3 + put_hex(offset + 3, static_cast<uint64_t>(position))});
    }
    append_text(line, "\r");
    print_status_line(line_view(line));
}

}  // namespace

void report_progress(StreamPump& pump, PumpPacket& packet)
{
    if (!packet.drop && pump.hooks.progress_every_packet && !progress_visible()) {
        // Through's per-packet line: nothing to show, so no position lookup either.
        pump.packets_since_progress = 0;
        return;
    }
    const int64_t position = packet_position(pump, packet.data);
    if (position >= 0) {
        pump.progress_position = position;
    }
    if (!packet.drop) {
        print_progress_line(pump, position);
        pump.packets_since_progress = 0;
        return;
    }
    if (pump.config->report_drops) {
        char pcr[48];
        char offset[24];
        LineText tail;
        add_piece(tail, clock_piece(pcr, current_clock(pump).current_time));
        add_piece(tail, pump.tot_text);
        if (position >= 0) {
            std::memcpy(offset, "+0x", 3);
            add_piece(tail, {offset, 3 + put_hex(offset + 3, static_cast<uint64_t>(position))});
        }
        close_status_line();
        print_message(520, "DROP : PID 0x%04X , %" PRId64 " Drop , %s \r\n", packet.state->pid,
                      packet.state->drops, line_c_str(tail));
        line_closed = true;
    }
    if (pump.hooks.progress_every_packet) {
        pump.args->result_count.fetch_add(1);
    }
}

}  // namespace qv
