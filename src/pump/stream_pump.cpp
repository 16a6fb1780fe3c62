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
#include "pump/progress_line.h"
#include "ts/packet_header.h"
#include "ts/stream_clock.h"
#include "ts/tuner_buffer.h"

namespace qv {
namespace {

inline constexpr int32_t kProgressSpacing = 1000;  // a line once more than this many packets
inline constexpr uint32_t kPacingSleepMs = 333;
/// Longest wait for a tuner's next delivery before the loop looks at stop requests again.
inline constexpr uint32_t kTunerWaitMs = 10;

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
    open_worker_output(*pump.slot, pump.output, live, pump.config->io_threads);
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

/// Marks the packet when it starts one of the clocks for the first time (the caption TS keeps
/// it).
void mark_first_clocks(StreamPump& pump, PumpPacket& packet, const ClockUpdates& updates)
{
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
    pump.clock_updates_watched = pump.first_pcr || pump.first_pts || pump.first_dts ||
                                 pump.hooks.after_pts_update != nullptr;
}

/// After the clocks took a value from the packet: the first-clock marks and the PTS hook.
inline void take_clock_updates(StreamPump& pump, PumpPacket& packet, const ClockUpdates& updates)
{
    packet.pts_updated = updates.pts;
    if (pump.hooks.mark_first_clocks && (pump.first_pcr || pump.first_pts || pump.first_dts)) {
        mark_first_clocks(pump, packet, updates);
    }
    if (packet.pts_updated && pump.hooks.after_pts_update != nullptr) {
        pump.hooks.after_pts_update(pump, packet);
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

/// One packet through every step of the pump. Inlined into the loop: most packets take no
/// step beyond the header, the continuity counter and a few tests. With `kOptional` false the
/// steps that PacketSteps::optional covers are left out, tests included (most passes).
template <bool kOptional>
[[gnu::always_inline]] inline void handle_packet(StreamPump& pump, const uint8_t* data)
{
    PumpPacket packet;
    packet.data = data;
    packet.state = parse_packet(*pump.context, data);
    if (packet.state == nullptr) {
        return;  // no PID state is returned for a header that did not parse
    }
    const PacketSteps& steps = pump.steps;
    // Whether the PID is plain is read once: no hook before the dispatch changes it.
    const bool plain = pump.plain_pid[packet.state->pid];
    if (pump.hooks.take_packet != nullptr && !plain && pump.hooks.take_packet(pump, packet)) {
        if (kOptional && steps.pacing) {
            pace_output(pump);
        }
        if (kOptional && steps.plugins) {
            offer_packet_to_plugins(*pump.args->plugin_host, data);
        }
        return;
    }
    packet.drop = check_continuity(*pump.context, *packet.state);
    if (has_clock_values(*packet.state, pump.hooks.pes_clocks_at_pes_start)) {
        const ClockUpdates updates =
            update_stream_clocks(*pump.context, *packet.state, pump.hooks.pes_clocks_at_pes_start);
        if (pump.clock_updates_watched && (updates.pcr || updates.pts || updates.dts)) {
            take_clock_updates(pump, packet, updates);
        }
    }
    if (!kOptional || !pump.ranges_active || in_range(pump)) {
        if (plain && pump.hooks.select_plain_pids) {
            packet.selected = true;
        } else if (pump.hooks.dispatch != nullptr && !(plain && pump.hooks.skip_plain_pids)) {
            pump.hooks.dispatch(pump, packet);
        }
    } else {
        packet.marked = false;  // a packet outside the ranges is neither written nor dispatched
    }
    if (kOptional && steps.pacing) {
        pace_output(pump);
    }
    if (kOptional && pump.hooks.before_write != nullptr) {
        pump.hooks.before_write(pump, packet);
    }
    if ((packet.selected || packet.marked) && steps.output) {
        write_pump_packet(pump, data);
    }
    if (kOptional && steps.plugins) {
        offer_packet_to_plugins(*pump.args->plugin_host, data);
    }
    if (pump.packets_since_progress > kProgressSpacing ||
        (kOptional && pump.hooks.progress_every_packet) ||
        (packet.drop && pump.context->pcr_pid_set[0] != kNoPid)) {
        report_progress(pump, packet);
    }
    if (kOptional && pump.hooks.after_packet != nullptr) {
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

/// True when the loop must end before the next packet (or read): a failed write, the end of the
/// last range, or a stop request.
template <bool kOptional = true>
bool loop_ends(StreamPump& pump)
{
    if (pump.output.write_failed) {
        return true;
    }
    if (kOptional && pump.ranges_active && !pump.range_cursor.more &&
        current_clock(pump).elapsed >= pump.range.end) {
        return true;
    }
    // Every packet and every read that brings none counts towards the next progress line.
    ++pump.packets_since_progress;
    return stop_asked();
}

/// The packets of a run lie back to back; each is handled as if read on its own, with the same
/// checks before it (the first one's came before the read). True when the loop ends.
template <bool kOptional>
bool handle_run(StreamPump& pump, const uint8_t* data, uint32_t count)
{
    const uint8_t* const end = data + size_t{count} * kPacketSize;
    for (const uint8_t* packet = data;;) {
        handle_packet<kOptional>(pump, packet);
        packet += kPacketSize;
        if (packet == end) {
            return false;
        }
        if (loop_ends<kOptional>(pump)) {
            return true;
        }
    }
}

void pump_packets(StreamPump& pump)
{
    const bool polled = pump.source_kind == SourceKind::tuner;
    for (;;) {
        platform::pump_messages();
        if (loop_ends(pump)) {
            break;
        }
        if (next_read_may_wait(pump.reader)) {
            flush_status_lines();  // no progress line is held back while the source is waited for
        }
        if (pump.steps.output && !next_run_in_block(pump.reader)) {
            settle_packets(*pump.output.writer);  // the packets written in place may be read over
            if (pump.output.writer->failed && !check_pump_writer(pump)) {
                break;
            }
        }
        const uint8_t* data = nullptr;
        const uint32_t cursor_before = pump.reader.cursor;
        const uint32_t valid_before = pump.reader.valid_length;
        const bool awaiting_before = pump.reader.awaiting_more;
        const uint32_t count = read_packet_run(pump.reader, pump.input, data);
        if (count == 0 || data == nullptr) {
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
                // Woken by the next delivery; the time-out lets a stop request be seen.
                wait_for_tuner_data(*pump.input.tuner, kTunerWaitMs);
                continue;
            }
            if (pump.reader.read_failed) {
                report_read_failure(pump.slot->source);
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
        const bool ended = pump.steps.optional ? handle_run<true>(pump, data, count)
                                               : handle_run<false>(pump, data, count);
        if (ended) {
            break;
        }
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
    pump.clock_updates_watched = hooks.mark_first_clocks || hooks.after_pts_update != nullptr;
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
        // A file's reads never wait for a writer (pipes, standard input and tuners do).
        pump.input.regular_file = pump.source_kind == SourceKind::file;
        if (pump.input.regular_file && pump.config->file_reading != FileReading::read) {
            // A read buffer asked to be smaller than a view makes the views that small.
            (void)start_mapped_reading(pump.reader, pump.input.handle, pump.source_origin,
                                       pump.config->io_threads,
                                       std::min<size_t>(kMappedViewSize, pump.reader.capacity));
        }
        if (pump.input.regular_file && pump.config->io_threads && !pump.reader.mapped) {
            (void)start_read_ahead(pump.reader, pump.input.handle);
        }
        if (pump.config->duration_spec) {
            pump.ranges_active = true;
            pump.range_cursor.text = *pump.config->duration_spec;
            parse_time_ranges(pump.range_cursor, pump.range);
        }
        pump.steps.pacing = pump.slot->sync;
        pump.steps.plugins = pump.args->plugin_host != nullptr && !pump.args->plugin_host->empty();
        pump.steps.output = pump.output.kind != OutputKind::none;
        pump.steps.optional = pump.steps.pacing || pump.steps.plugins || pump.ranges_active ||
                              pump.hooks.before_write != nullptr ||
                              pump.hooks.after_packet != nullptr ||
                              pump.hooks.progress_every_packet;
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
