#include "modes/merge_worker.h"

#include <array>
#include <cinttypes>

#include "base/byte_buffer.h"
#include "base/console_output.h"
#include "caption/caption_pes.h"
#include "platform/text.h"
#include "pump/pid_counters.h"
#include "pump/pump_tables.h"
#include "pump/stream_pump.h"
#include "ts/pat_pmt.h"
#include "ts/si_tables.h"
#include "ts/stream_clock.h"
#include "ts/ts_packet.h"

namespace qv {
namespace {

constexpr int32_t kMainSlot = 0;
constexpr int32_t kCaptionSlot = 1;
constexpr uint32_t kTurnCheckMs = 100;

/// The caption stream's PMT entry (written by thread 1, read by thread 0's PMT rebuild).
ByteBuffer& caption_es_entry(WorkerArgs& args) { return args.buffers[0]; }
/// The one item waiting for insertion (written by thread 1, emptied by thread 0).
ByteBuffer& pending_item(WorkerArgs& args) { return args.buffers[1]; }

/// Waits for this side's turn and takes it (resets the event). A side that has ended gives no
/// more turns: the wait ends once the other side is finished, whoever set the event.
void wait_for_turn(WorkerSlot& own, const WorkerSlot& other)
{
    while (!own.lock_event->wait(kTurnCheckMs)) {
        if (other.finished.load()) {
            break;
        }
    }
    own.lock_event->reset();
}

// --- thread 1: the caption stream --------------------------------------------------------------

/// The first caption entry of a program's PMT becomes the entry the main TS announces.
void take_caption_es_entry(WorkerArgs& args, const ProgramEntry& program)
{
    for (const EsEntry& stream : program.streams) {
        if (stream.is_caption) {
            if (!stream.raw.empty()) {
                ByteBuffer& entry = caption_es_entry(args);
                entry.track_changes = true;
                store_bytes(entry, stream.raw.data(), stream.raw.size());
            }
            return;
        }
    }
}

void dispatch_caption_side(StreamPump& pump, PumpPacket& packet)
{
    WorkerArgs& args = *pump.args;
    const RunConfig& config = *pump.config;
    ByteBuffer& item = pending_item(args);
    TableCopies copies;
    copies.eit = config.keep_eit ? &item : nullptr;
    copies.sdt = config.keep_sdt ? &item : nullptr;
    copies.tot = config.keep_tot ? &item : nullptr;
    const TableDispatch table = dispatch_tables(pump, packet, copies);
    if (table.kind == PacketKind::pmt && (table.pmt_result & kPmtTaken) != 0 &&
        args.mode == RunMode::merge && table.program != nullptr) {
        take_caption_es_entry(args, *table.program);
    } else if (table.kind == PacketKind::caption) {
        // Every completed caption PES goes over, whether or not it holds decodable text.
        (void)parse_caption_pes(*table.caption, *pump.context, *packet.state, packet.data, &item);
    }
}

/// The "CAPTION PTS" line of -detail: the caption TS's time at a handed-over item.
void print_item_clock(StreamPump& pump, const PumpPacket& packet)
{
    const ClockTracker& clock = current_clock(pump);
    const ClockTime& t = clock.current_time;
    const int64_t position = packet_position(pump, packet.data);
    close_status_line();
    print_message(520, "－ CAPTION PTS %d:%02d:%02d.%03d 0x%09" PRIx64 " %s%s+0x%" PRIX64 "        \n",
                  t.hours, t.minutes, t.seconds, t.milliseconds, clock.elapsed,
                  pump.tot_text.c_str(), pump.tot_text.empty() ? "" : " ",
                  static_cast<uint64_t>(position < 0 ? 0 : position));
    line_closed = true;
}

/// After each packet with an item waiting: report it, print a changed caption text, and give
/// the turn to the main stream until it has placed the item.
void hand_over_item(StreamPump& pump, PumpPacket& packet)
{
    WorkerArgs& args = *pump.args;
    ByteBuffer& item = pending_item(args);
    if (item.data.empty()) {
        return;
    }
    if (pump.config->detail) {
        print_item_clock(pump, packet);
    }
    CaptionEntry* entry = find_caption_entry(*pump.context, packet.state->pid);
    if (entry != nullptr && !entry->text_state.text.empty() && entry->text_state.text_changed) {
        close_status_line();
        const std::string shown = platform::sjis_to_native(entry->text_state.text);
        print_message(shown.size() + 260, "%s\r\n", shown.c_str());
        line_closed = true;
        entry->text_state.text_changed = false;
        args.result_count.fetch_add(1);
    }
    WorkerSlot& main = args.slots[kMainSlot];
    WorkerSlot& own = args.slots[kCaptionSlot];
    main.lock_event->set();
    if (!main.finished.load()) {
        wait_for_turn(own, main);
    }
    if (main.finished.load()) {
        release_bytes(item);  // nobody takes items any more: the rest is read, not merged
    }
}

// --- thread 0: the main stream -----------------------------------------------------------------

/// ticks_since_first of a clock, worked out again only when the values it depends on moved:
/// the insertion check asks it before every packet of the main stream.
struct TicksSinceFirst {
    uint64_t first_value = UINT64_MAX;
    uint64_t value = UINT64_MAX;
    int64_t ticks = 0;

    int64_t of(const ClockTracker& clock)
    {
        if (clock.value != value || clock.first_value != first_value) {
            first_value = clock.first_value;
            value = clock.value;
            ticks = ticks_since_first(clock);
        }
        return ticks;
    }
};

/// What thread 0 keeps besides the pump's state.
struct MergeMain {
    explicit MergeMain(WorkerArgs& args) : pmt_counters(&args.merge_states[0]) {}

    PidCounters pmt_counters;   ///< rebuilt PMTs, one counter per PMT PID
    PidCounters item_counters;  ///< inserted items, one counter per item PID
    bool main_eit = false;      ///< the main TS carried a valid EIT (its own wins)
    bool main_sdt = false;
    bool main_tot = false;
    /// A PMT of the main TS went out: before it no receiver would know an inserted item's PID.
    bool announced = false;
    std::array<bool, kPidCount> clash_reported = {};
    TicksSinceFirst caption_ticks;  ///< of the caption stream's PTS clock
    TicksSinceFirst main_ticks;     ///< of the main stream's PTS clock
};

MergeMain& merge_main(StreamPump& pump) { return *static_cast<MergeMain*>(pump.hooks.user); }

/// A PMT of the main TS: rebuilt with the caption TS's entry in place of its own caption
/// entries. While there is such an entry, no PMT packet is copied (a copied packet of a section
/// in progress and the rebuilt one would break the section); without one the PMT passes as it
/// is, unless its PID also carries the main TS's captions.
void handle_main_pmt(StreamPump& pump, PumpPacket& packet, ProgramEntry& program)
{
    ByteBuffer& entry = caption_es_entry(*pump.args);
    PmtRewriteRequest request;
    request.replacement_entries = &entry;
    if (pump.output.kind != OutputKind::none && !pump.output.write_failed) {
        request.output = pump.output.writer.get();
        request.counter = &merge_main(pump).pmt_counters.for_pid(packet.state->pid);
    }
    const uint32_t result = parse_pmt(*pump.context, program, *packet.state, packet.data, request);
    (void)check_pump_writer(pump);
    packet.kind = PacketKind::pmt;
    forget_plain_pids(pump);
    packet.selected =
        entry.data.empty() && find_caption_entry(*pump.context, packet.state->pid) == nullptr;
    MergeMain& main = merge_main(pump);
    main.announced = main.announced || (result & kPmtWritten) != 0 || packet.selected;
}

void dispatch_main_side(StreamPump& pump, PumpPacket& packet)
{
    const uint16_t pid = packet.state->pid;
    if (!pump.plain_pid[pid]) {
        if (ProgramEntry* program = find_program_by_pmt_pid(*pump.context, pid)) {
            if (program->program_number == 0) {
                packet.selected = true;  // the network PID (NIT) carries no PMT: copied
            } else {
                handle_main_pmt(pump, packet, *program);
            }
            return;
        }
    }
    MergeMain& main = merge_main(pump);
    const TableDispatch table = dispatch_tables(pump, packet);
    // A table parser also answers true while a section is still being collected: only a
    // completed one (nothing pending any more) is a valid table of the main TS.
    const bool complete = packet.state->section_remaining == 0;
    switch (table.kind) {
    case PacketKind::eit:
        main.main_eit = main.main_eit || complete;
        break;
    case PacketKind::sdt:
        main.main_sdt = main.main_sdt || complete;
        break;
    case PacketKind::tot:
        main.main_tot = true;
        break;
    case PacketKind::caption:
        return;  // the main TS's own captions leave; their clocks still count
    case PacketKind::pat:
    case PacketKind::pmt:
    case PacketKind::other:
        break;
    }
    packet.selected = true;
}

/// True when the main TS uses `pid` for something an inserted item would corrupt: PID 0, the
/// null PID, a PMT or NIT PID, an elementary stream it announces or any PID it carries, its own
/// caption PIDs excepted (their packets leave the output).
bool main_uses_pid(StreamContext& context, uint16_t pid)
{
    if (pid == kPatPid || pid == 0x1FFF) {
        return true;
    }
    if (find_caption_entry(context, pid) != nullptr) {
        return false;
    }
    if (find_program_by_pmt_pid(context, pid) != nullptr || find_pid_state(context, pid) != nullptr) {
        return true;
    }
    for (const ProgramEntry& program : context.programs) {
        for (const EsEntry& stream : program.streams) {
            if (stream.pid == pid && !stream.is_caption) {
                return true;
            }
        }
    }
    return false;
}

/// Whether an item on `pid` goes into the output, and whether its time stamps move onto the
/// main TS's clocks. EIT, SDT and TOT join only on request and only while the main TS has none
/// of its own; an item on a PID the main TS uses is refused once with a message.
struct ItemPlacement {
    bool insert = false;
    bool rewrite = false;
};

ItemPlacement place_item(StreamPump& pump, uint16_t pid)
{
    const RunConfig& config = *pump.config;
    MergeMain& main = merge_main(pump);
    if (is_eit_pid(pid)) {
        return {config.keep_eit && !main.main_eit, false};
    }
    if (pid == kSdtPid) {
        return {config.keep_sdt && !main.main_sdt, false};
    }
    if (pid == kTotPid) {
        return {config.keep_tot && !main.main_tot, false};
    }
    if (main_uses_pid(*pump.context, pid)) {
        if (!main.clash_reported[pid]) {
            main.clash_reported[pid] = true;
            close_status_line();
            print_message(260, "－ 字幕TSのPID 0x%04Xは本体TSで使用中のため挿入しません\n", pid);
            line_closed = true;
        }
        return {false, false};
    }
    return {true, true};
}

/// The item's time stamps on the main TS's time line: the main clock's first value plus the
/// caption clock's ticks since its first value, plus -capmergepatch.
TimeStampRewrite main_time_stamps(const StreamContext& main, const StreamContext& caption,
                                  int64_t patch)
{
    const auto moved = [patch](const ClockTracker& to, const ClockTracker& from) {
        // Modulo 2^33: a time just before the first value, or a negative patch, wraps as the
        // 33-bit clock itself does.
        return (to.first_value + static_cast<uint64_t>(ticks_since_first(from)) +
                static_cast<uint64_t>(patch)) &
               kClockMask;
    };
    TimeStampRewrite rewrite;
    rewrite.pcr = moved(main.pcr_clock, caption.pcr_clock);
    rewrite.pts = moved(main.pts_clock, caption.pts_clock);
    rewrite.dts = moved(main.dts_clock, caption.dts_clock);
    return rewrite;
}

/// Writes the pending item when its PID and the options allow it, and empties it.
void insert_item(StreamPump& pump)
{
    WorkerArgs& args = *pump.args;
    ByteBuffer& item = pending_item(args);
    std::vector<uint8_t>& bytes = item.data;
    const uint16_t pid =
        bytes.size() >= 4 ? static_cast<uint16_t>(((bytes[1] & 0x1F) << 8) | bytes[2]) : 0;
    const ItemPlacement placement = place_item(pump, pid);
    const StreamContext* caption = args.slots[kCaptionSlot].context;
    if (placement.insert && caption != nullptr && pump.output.kind != OutputKind::none &&
        !pump.output.write_failed) {
        TimeStampRewrite rewrite;
        if (placement.rewrite) {
            rewrite = main_time_stamps(*pump.context, *caption, pump.config->capmerge_patch);
        }
        PidCounter& counter = merge_main(pump).item_counters.for_pid(pid);
        (void)write_rebuilt_packet(*pump.output.writer, bytes.data(), bytes.size(), nullptr, &counter,
                                   rewrite);
        if (check_pump_writer(pump)) {
            args.result_count.fetch_add(1);
        }
    }
    release_bytes(item);
}

/// Before each main packet is written: an item whose time the main TS has reached goes in just
/// before it, once the main TS has sent a PMT. Both sides count from their PTS clocks' first
/// values. An item whose time the main TS
/// has already passed (its clock switched tracker, say) goes in at once rather than waiting for
/// ever and holding every later item back.
void check_insertion(StreamPump& pump, PumpPacket& /*packet*/)
{
    WorkerArgs& args = *pump.args;
    if (pending_item(args).data.empty() || args.slots[kCaptionSlot].context == nullptr ||
        !merge_main(pump).announced) {
        return;
    }
    // Both sides on their PTS clocks: the caption stream's first PTS is the main stream's
    // first (extract copies that packet), so an item's ticks since it are ticks since the main
    // stream's first PTS too. Until the main stream has a PTS there is nothing to place on.
    const ClockTracker& caption = args.slots[kCaptionSlot].context->pts_clock;
    const ClockTracker& main = pump.context->pts_clock;
    MergeMain& side = merge_main(pump);
    if (main.first_value == 0 || side.caption_ticks.of(caption) >= side.main_ticks.of(main)) {
        return;  // not yet
    }
    insert_item(pump);
    WorkerSlot& caption_slot = args.slots[kCaptionSlot];
    caption_slot.lock_event->set();
    if (!caption_slot.finished.load()) {
        wait_for_turn(args.slots[kMainSlot], caption_slot);
    }
}

/// Before the first packet: the main stream starts when the first item is ready or the caption
/// stream has ended.
void wait_for_first_item(StreamPump& pump)
{
    wait_for_turn(*pump.slot, pump.args->slots[kCaptionSlot]);
}

/// The main TS has ended: the item held now goes in like any other (the main TS will never
/// reach its time). The caption stream then reads on to its end without waiting for us. A main
/// TS that never sent a PMT had no place for the items before: that is said, not left to the
/// exit code.
void insert_held_item(StreamPump& pump)
{
    if (!pending_item(*pump.args).data.empty() && !stop_asked()) {
        if (!merge_main(pump).announced) {
            close_status_line();
            print_message(260, "－ 本体TSにPMTがないため字幕を挿入できません\n");
        }
        insert_item(pump);
    }
}

}  // namespace

void finish_merge_side(WorkerArgs& args, int32_t slot_index)
{
    WorkerSlot& own = args.slots[static_cast<size_t>(slot_index)];
    WorkerSlot& other = args.slots[static_cast<size_t>(1 - slot_index)];
    if (own.lock_event) {
        own.lock_event->set();
    }
    if (other.lock_event) {
        other.lock_event->set();
    }
    own.finished = true;
}

int32_t run_merge_main_worker(WorkerArgs* args)
{
    if (args == nullptr) {
        return 0;
    }
    int32_t result = 0;
    if (args->slots[kMainSlot].lock_event && args->slots[kCaptionSlot].lock_event) {
        MergeMain main(*args);
        PumpHooks hooks;
        hooks.before_loop = wait_for_first_item;
        hooks.dispatch = dispatch_main_side;
        hooks.before_write = check_insertion;
        hooks.after_loop = insert_held_item;
        hooks.user = &main;
        hooks.delete_empty_output = false;  // the merged stream stays, even with nothing inserted
        hooks.select_plain_pids = true;
        result = run_stream_pump(args, kMainSlot, hooks);
    }
    finish_merge_side(*args, kMainSlot);
    return result;
}

int32_t run_merge_caption_worker(WorkerArgs* args)
{
    if (args == nullptr) {
        return 0;
    }
    int32_t result = 0;
    if (args->slots[kMainSlot].lock_event && args->slots[kCaptionSlot].lock_event) {
        PumpHooks hooks;
        hooks.dispatch = dispatch_caption_side;
        hooks.before_write = hand_over_item;
        hooks.pes_clocks_at_pes_start = true;  // the clocks as display keeps them
        hooks.skip_plain_pids = true;
        hooks.delete_empty_output = false;
        result = run_stream_pump(args, kCaptionSlot, hooks);
    }
    finish_merge_side(*args, kCaptionSlot);
    return result;
}

}  // namespace qv
