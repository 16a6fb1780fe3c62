#include "pump/stream_pump.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/ascii_text.h"
#include "base/console_output.h"
#include "external/plugin_host.h"
#include "platform/console.h"
#include "ts/packet_header.h"
#include "ts/stream_clock.h"

namespace qv {
namespace {

inline constexpr int32_t kProgressSpacing = 1000;  // a line once more than this many packets
inline constexpr uint32_t kPacingSleepMs = 333;

std::atomic<bool> g_standard_input_ended{false};


std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string format_text(const char* format, ...)
{
    char buffer[260];
    va_list list;
    va_start(list, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, list);
    va_end(list);
    if (length < 0) {
        return {};
    }
    return std::string(buffer, std::min<size_t>(static_cast<size_t>(length), sizeof buffer - 1));
}

void open_source(StreamPump& pump)
{
    const std::string& source = pump.slot->source;
    const size_t semicolon = source.find(';');
    std::string path = source.substr(0, semicolon);
    pump.source_kind = SourceKind::invalid;
    if (path.empty()) {
        return;
    }
    if (platform::names_console(path)) {
        pump.source_kind = SourceKind::standard_input;
        pump.source_path = path;
        pump.input.handle = platform::standard_input();
        return;
    }
    if (path.starts_with(kTunerPathPrefix)) {
        // The driver is loaded by the reception thread, which starts after the loop's first
        // hook; until then the queue stays empty.
        pump.source_kind = SourceKind::tuner;
        pump.source_path = path;
        pump.tuner = std::make_unique<TunerConnection>();
        (void)split_tuner_path(path, pump.tuner->tuning_space, pump.tuner->channel,
                               pump.tuner->driver_path);
        pump.input.tuner = &pump.tuner->queue;
        return;
    }
    if (path.starts_with(kPipePrefix)) {
        pump.source_kind = SourceKind::pipe;
        pump.source_path = platform::named_pipe_path(path.substr(kPipePrefix.size()));
    } else {
        const platform::PathKind kind = platform::path_kind(path);
        if (kind == platform::PathKind::missing || kind == platform::PathKind::directory) {
            return;
        }
        // A FIFO or device named directly is read like a pipe: no size, no start offset.
        pump.source_kind =
            kind == platform::PathKind::pipe_or_device ? SourceKind::pipe : SourceKind::file;
        pump.source_path = path;
        if (pump.source_kind == SourceKind::file && semicolon != std::string::npos) {
            pump.start_offset = parse_decimal(source.c_str() + semicolon + 1);
        }
    }
    pump.input.handle = platform::open_for_reading(pump.source_path);
    if (pump.input.handle == platform::kClosedHandle) {
        print_message(520, "－ 入力ファイルが開けません %s\n", path.c_str());
    }
}

void open_output(StreamPump& pump)
{
    // A live stream (pipe, standard input, tuner) or a paced one is handed on a buffer at a time,
    // so that a reader downstream gets it as it comes.
    const bool live = pump.slot->sync || pump.source_kind == SourceKind::pipe ||
                      pump.source_kind == SourceKind::standard_input ||
                      pump.source_kind == SourceKind::tuner;
    open_worker_output(*pump.slot, pump.output, live);
}

bool source_usable(const StreamPump& pump)
{
    switch (pump.source_kind) {
    case SourceKind::file:
    case SourceKind::standard_input:
    case SourceKind::pipe:
        return pump.input.handle != platform::kClosedHandle;
    case SourceKind::tuner:
        return pump.input.tuner != nullptr;
    case SourceKind::invalid:
        break;
    }
    return false;
}

bool output_usable(const StreamPump& pump) { return worker_output_usable(pump.output); }

/// Size and start position of a file source; the other sources count as size 1.
void position_source(StreamPump& pump)
{
    pump.total_size = 1;
    if (pump.source_kind != SourceKind::file) {
        return;
    }
    int64_t size = 0;
    if (platform::file_size(pump.input.handle, size)) {
        pump.total_size = size;
    }
    int64_t position = 0;
    bool moved = false;
    if (pump.start_offset > 0) {
        moved = platform::seek_file(pump.input.handle, pump.start_offset,
                                    platform::SeekOrigin::begin, position);
    } else if (pump.start_offset < 0) {
        // -1 is the end of the file, -189 the last packet.
        moved = platform::seek_file(pump.input.handle, pump.start_offset + 1,
                                    platform::SeekOrigin::end, position);
    }
    if (!moved && !platform::seek_file(pump.input.handle, 0, platform::SeekOrigin::current,
                                       position)) {
        position = 0;
    }
    pump.source_origin = position;
}

void close_pump(StreamPump& pump)
{
    WorkerSlot& slot = *pump.slot;
    flush_status_lines();
    close_worker_output(slot, pump.output);
    release_read_buffer(pump.reader);  // stops a read-ahead thread before the source closes
    if (pump.source_kind == SourceKind::file || pump.source_kind == SourceKind::pipe) {
        platform::close_handle(pump.input.handle);
    }
    if (pump.hooks.delete_empty_output && !pump.config->no_delete &&
        pump.args->result_count.load() < 1 && pump.output.created &&
        platform::path_kind(slot.output) == platform::PathKind::regular) {
        // Only a regular file that this pass created is ever deleted: an output such as
        // /dev/null, or a file that could not be opened (read-only, say), stays.
        (void)platform::delete_file(slot.output);
    }
    if (slot.lock_event) {
        slot.lock_event->set();
    }
    slot.finished = true;
    if (pump.tuner) {
        // After the output is closed: the thread is stopped and waited for before the driver
        // object is released and its library freed.
        release_tuner_connection(*pump.tuner);
    }
}

/// Feeds the clocks and marks the packet when it starts a clock for the first time (the caption
/// TS keeps it).
void update_clocks(StreamPump& pump, PumpPacket& packet)
{
    const ClockUpdates updates =
        update_stream_clocks(*pump.context, *packet.state, pump.hooks.pes_clocks_at_pes_start);
    packet.pts_updated = updates.pts;
    if (!pump.hooks.mark_first_clocks) {
        return;
    }
    if (updates.pcr && pump.first_pcr) {
        pump.first_pcr = false;
        packet.marked = true;
    }
    if (updates.pts && pump.first_pts) {
        pump.first_pts = false;
        packet.marked = true;
    }
    if (updates.dts && pump.first_dts) {
        pump.first_dts = false;
        packet.marked = true;
    }
}

/// The -duration gate: true when the current stream time lies in a range. Moves to the next
/// range once the time has passed the current one.
bool in_range(StreamPump& pump)
{
    const uint64_t now = current_clock(pump).elapsed;
    while (!stop_asked()) {
        if (now < pump.range.start) {
            return false;
        }
        if (now <= pump.range.end) {
            return true;
        }
        if (!pump.range_cursor.more) {
            return false;
        }
        parse_time_ranges(pump.range_cursor, pump.range);
    }
    return false;
}

void pace_output(StreamPump& pump)
{
    StreamContext& context = *pump.context;
    if (context.pts_clock.current_seconds <= 0 ||
        context.pts_clock.current_seconds <= context.wall_clock.current_seconds || stop_asked()) {
        return;
    }
    if (pump.output.kind != OutputKind::none) {
        flush_packets(*pump.output.writer);
    }
    flush_status_lines();
    do {
        platform::pump_messages();
        platform::sleep_ms(kPacingSleepMs);
        if (stop_asked()) {
            break;
        }
        update_wall_clock(context.wall_clock);
    } while (pump.slot->sync &&
             context.wall_clock.current_seconds < context.pts_clock.current_seconds);
}

/// A console line of pieces with " , " between the non-empty ones, built without allocating:
/// through mode builds one per packet.
class JoinedLine {
public:
    explicit JoinedLine(std::string_view lead) { append(lead); }

    void add(std::string_view piece)
    {
        if (piece.empty()) {
            return;
        }
        if (pieces_++ > 0) {
            append(" , ");
        }
        append(piece);
    }
    void append(std::string_view text)
    {
        const size_t count = std::min(text.size(), sizeof text_ - 1 - length_);
        std::memcpy(text_ + length_, text.data(), count);
        length_ += count;
    }
    std::string_view text() const { return {text_, length_}; }
    const char* c_str()
    {
        text_[length_] = '\0';
        return text_;
    }

private:
    char text_[320];
    size_t length_ = 0;
    int pieces_ = 0;
};

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
    char digits[16];
    size_t count = 0;
    do {
        digits[count++] = "0123456789ABCDEF"[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    for (size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

/// "PCR h:mm:ss.mmm" of a clock time.
std::string_view clock_piece(char (&buffer)[48], const ClockTime& time)
{
    if (time.hours < 0 || time.minutes < 0 || time.seconds < 0 || time.milliseconds < 0) {
        const int length = std::snprintf(buffer, sizeof buffer, "PCR %d:%02d:%02d.%03d",
                                         time.hours, time.minutes, time.seconds,
                                         time.milliseconds);
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

void report_progress(StreamPump& pump, PumpPacket& packet)
{
    if (!packet.drop && pump.hooks.progress_every_packet && !progress_visible()) {
        // Through's per-packet line: nothing to show, so no position lookup either.
        pump.packets_since_progress = 0;
        return;
    }
    char percent_text[16];
    char offset_text[24];
    char pcr_text[48];
    std::string_view percent;
    std::string_view offset;
    const int64_t position = packet_position(pump, packet.data);
    if (position >= 0) {
        pump.progress_position = position;
        std::memcpy(offset_text, "+0x", 3);
        offset = {offset_text, 3 + put_hex(offset_text + 3, static_cast<uint64_t>(position))};
        const int64_t share = pump.total_size > 0 ? position * 100 / pump.total_size : 0;
        const size_t digits =
            put_decimal(percent_text, static_cast<uint64_t>(share > 100 ? 100 : share), 1);
        std::memcpy(percent_text + digits, " %", 2);
        percent = {percent_text, digits + 2};
    }
    const std::string_view pcr = clock_piece(pcr_text, current_clock(pump).current_time);
    if (packet.drop) {
        if (pump.config->report_drops) {
            close_status_line();
            JoinedLine tail("");
            tail.add(pcr);
            tail.add(pump.tot_text);
            tail.add(offset);
            print_message(520, "DROP : PID 0x%04X , %" PRId64 " Drop , %s \r\n",
                          packet.state->pid, packet.state->drops, tail.c_str());
            line_closed = true;
        }
        if (pump.hooks.progress_every_packet) {
            pump.args->result_count.fetch_add(1);
        }
        return;
    }
    JoinedLine line("－ ");
    line.add(percent);
    line.add(pcr);
    line.add(pump.tot_text);
    line.add(offset);
    line.append("\r");
    print_status_line(line.text());
    pump.packets_since_progress = 0;
}

void handle_packet(StreamPump& pump, const uint8_t* data)
{
    PumpPacket packet;
    packet.data = data;
    packet.state = parse_packet(*pump.context, data);
    if (packet.state == nullptr || !packet.state->header_valid) {
        return;
    }
    if (pump.hooks.take_packet != nullptr && pump.hooks.take_packet(pump, packet)) {
        if (pump.slot->sync) {
            pace_output(pump);
        }
        if (pump.args->plugin_host != nullptr && !pump.args->plugin_host->empty()) {
            offer_packet_to_plugins(*pump.args->plugin_host, data);
        }
        return;
    }
    packet.drop = check_continuity(*pump.context, *packet.state);
    update_clocks(pump, packet);
    if (packet.pts_updated && pump.hooks.after_pts_update != nullptr) {
        pump.hooks.after_pts_update(pump, packet);
    }
    if (!pump.ranges_active || in_range(pump)) {
        if (pump.hooks.dispatch != nullptr &&
            !(pump.hooks.skip_plain_pids && pump.plain_pid[packet.state->pid])) {
            pump.hooks.dispatch(pump, packet);
        }
    } else {
        packet.marked = false;  // a packet outside the ranges is neither written nor dispatched
    }
    if (pump.slot->sync) {
        pace_output(pump);
    }
    if (pump.hooks.before_write != nullptr) {
        pump.hooks.before_write(pump, packet);
    }
    if ((packet.selected || packet.marked) && pump.output.kind != OutputKind::none) {
        write_pump_packet(pump, data);
    }
    if (pump.args->plugin_host != nullptr && !pump.args->plugin_host->empty()) {
        offer_packet_to_plugins(*pump.args->plugin_host, data);
    }
    const bool drop_line = packet.drop && (pump.hooks.progress_every_packet ||
                                           pump.context->pcr_pid_set[0] != kNoPid);
    if (drop_line || pump.hooks.progress_every_packet ||
        pump.packets_since_progress > kProgressSpacing) {
        report_progress(pump, packet);
    }
    if (pump.hooks.after_packet != nullptr) {
        pump.hooks.after_packet(pump, packet);
    }
}

/// True when the read_packet call that started from (cursor, valid, awaiting) had to read and
/// the read brought no bytes: the block then holds only the undelivered tail, moved to its start.
bool read_came_back_empty(const PacketReadBuffer& reader, uint32_t cursor, uint32_t valid,
                          bool awaiting)
{
    const uint32_t tail = cursor < valid ? valid - cursor : 0;
    const bool had_to_read = awaiting || tail < kPacketSize || read_data(reader) == nullptr;
    return had_to_read && reader.cursor == 0 && reader.valid_length == tail;
}

/// True when the block holds no whole packet beyond the cursor: the next read_packet call reads
/// from the source.
bool next_read_may_wait(const PacketReadBuffer& reader)
{
    return reader.awaiting_more || reader.cursor >= reader.valid_length ||
           reader.valid_length - reader.cursor <= kPacketSize;
}

void pump_packets(StreamPump& pump)
{
    const bool polled = pump.source_kind == SourceKind::tuner;
    while (!pump.output.write_failed) {
        if (pump.ranges_active && !pump.range_cursor.more &&
            current_clock(pump).elapsed >= pump.range.end) {
            break;
        }
        platform::pump_messages();
        ++pump.packets_since_progress;
        if (stop_asked()) {
            break;
        }
        if (next_read_may_wait(pump.reader)) {
            flush_status_lines();  // no progress line is held back while the source is waited for
        }
        const uint8_t* data = nullptr;
        const uint32_t cursor_before = pump.reader.cursor;
        const uint32_t valid_before = pump.reader.valid_length;
        const bool awaiting_before = pump.reader.awaiting_more;
        if (read_packet(pump.reader, pump.input, kPacketSize, data) == 0 || data == nullptr) {
            // A tuner queue may be empty for a moment. Files, pipes and standard input end when
            // a read brought nothing (standard input at the end of a pipe would otherwise be
            // polled forever); a block without a packet, or a packet cut by the end of the
            // block, only asks for the next read.
            if (polled) {
                // A tuner whose reception has ended (no driver, a failed open or tune, a stop)
                // and whose queue is empty ends like a file.
                if (pump.tuner && tuner_reception_ended(*pump.tuner)) {
                    break;
                }
                platform::sleep_ms(1);
                continue;
            }
            if (pump.reader.read_failed) {
                close_status_line();
                const std::string& source = pump.slot->source;
                print_message(520, "－ 入力ファイルから読み込めません %s\n",
                              source.substr(0, source.find(';')).c_str());
                break;
            }
            if (read_came_back_empty(pump.reader, cursor_before, valid_before, awaiting_before)) {
                if (pump.source_kind == SourceKind::standard_input) {
                    g_standard_input_ended = true;
                }
                break;
            }
            continue;
        }
        handle_packet(pump, data);
    }
    pump.stopped = true;
}

}  // namespace

bool stop_asked() { return stop_requested.load() != 0 || stop_reason.load() > 0; }

bool standard_input_exhausted() { return g_standard_input_ended.load(); }

const ClockTracker& current_clock(const StreamPump& pump)
{
    return select_clock(*pump.context, ClockPreference::pcr);
}

int64_t packet_position(const StreamPump& pump, const uint8_t* packet)
{
    const uint8_t* data = read_data(pump.reader);
    if (pump.source_kind != SourceKind::file || data == nullptr || packet == nullptr) {
        return -1;
    }
    // The block holds the bytes just before the file position, so its start lies valid_length
    // bytes before it. The position is counted, not asked of the file on every packet.
    const int64_t position = pump.source_origin + static_cast<int64_t>(pump.reader.bytes_read);
    const int64_t block_start = position - static_cast<int64_t>(pump.reader.valid_length);
    return block_start + (packet - data);
}

std::string position_text(int64_t position)
{
    return position < 0 ? std::string() : format_text("+0x%" PRIX64, position);
}

void write_pump_packet(StreamPump& pump, const uint8_t* packet)
{
    if (pump.output.write_failed) {
        return;
    }
    write_packets(*pump.output.writer, packet, kPacketSize);
    (void)check_pump_writer(pump);
}

bool check_pump_writer(StreamPump& pump) { return check_worker_output(*pump.slot, pump.output); }

int32_t run_stream_pump(WorkerArgs* args, int32_t slot_index, const PumpHooks& hooks)
{
    if (args == nullptr || args->config == nullptr || slot_index < 0 ||
        slot_index >= kWorkerSlotCount) {
        return 0;
    }
    WorkerSlot& slot = args->slots[static_cast<size_t>(slot_index)];
    if (slot.shared == nullptr) {
        return 0;
    }
    StreamPump pump;
    pump.args = args;
    pump.slot = &slot;
    pump.config = args->config;
    pump.hooks = hooks;
    pump.context = get_stream_context(slot.context_list, 0);
    slot.context = pump.context;
    if (pump.context == nullptr) {
        return 0;
    }
    open_source(pump);
    open_output(pump);
    if (source_usable(pump) && output_usable(pump)) {
        position_source(pump);
        if (pump.hooks.before_loop != nullptr) {
            pump.hooks.before_loop(pump);
        }
        const bool receiving = !pump.tuner || start_tuner_reception(*pump.tuner) == 0;
        pump.reader.capacity = effective_read_buffer_size(*pump.config);
        if (pump.source_kind == SourceKind::file) {
            // A file is read on a thread of its own, ahead of the packet work.
            (void)start_read_ahead(pump.reader, pump.input.handle);
        }
        if (pump.config->duration_spec) {
            pump.ranges_active = true;
            pump.range_cursor.text = *pump.config->duration_spec;
            parse_time_ranges(pump.range_cursor, pump.range);
        }
        if (receiving) {
            pump_packets(pump);
        }
        if (pump.hooks.after_loop != nullptr) {
            pump.hooks.after_loop(pump);
        }
    }
    close_pump(pump);
    return 1;
}

}  // namespace qv
