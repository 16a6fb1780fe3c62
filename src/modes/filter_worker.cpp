#include "modes/filter_worker.h"

#include <cinttypes>

#include "base/console_output.h"
#include "pump/pid_counters.h"
#include "pump/pump_tables.h"
#include "pump/stream_pump.h"
#include "ts/pat_pmt.h"

namespace qv {
namespace {

/// Caption packets leave the stream before continuity and clocks see them.
bool take_caption_packet(StreamPump& pump, PumpPacket& packet)
{
    const uint16_t pid = packet.state->pid;
    if (pump.plain_pid[pid] || find_caption_entry(*pump.context, pid) == nullptr) {
        return false;
    }
    packet.kind = PacketKind::caption;
    const ClockTracker& clock = current_clock(pump);
    const ClockTime& t = clock.current_time;
    line_closed = false;
    print_message(520,
                  "－ FILTER CAPTION PID 0x%04X PCR %d:%02d:%02d.%03d 0x%09" PRIx64
                  " %s%s+0x%" PRIX64 "        \r\n",
                  pid, t.hours, t.minutes, t.seconds, t.milliseconds, clock.elapsed,
                  pump.tot_text.c_str(), pump.tot_text.empty() ? "" : " ",
                  static_cast<uint64_t>(pump.progress_position));
    line_closed = true;
    return true;
}

/// A PMT packet is never copied: the rebuilt section takes its place once it completes.
void rebuild_pmt(StreamPump& pump, PumpPacket& packet, ProgramEntry& program)
{
    PidCounters& counters = *static_cast<PidCounters*>(pump.hooks.user);
    PmtRewriteRequest request;
    request.request_word = kRemoveCaptionEntries;
    if (pump.output.kind != OutputKind::none && !pump.output.write_failed) {
        request.output = pump.output.writer.get();
        // One counter per PMT PID, each continuing from its own first input packet.
        request.counter = &counters.for_pid(packet.state->pid);
    }
    (void)parse_pmt(*pump.context, program, *packet.state, packet.data, request);
    (void)check_pump_writer(pump);
    packet.kind = PacketKind::pmt;
    forget_plain_pids(pump);
}

void dispatch_filter(StreamPump& pump, PumpPacket& packet)
{
    const RunConfig& config = *pump.config;
    const uint16_t pid = packet.state->pid;
    if (pump.plain_pid[pid]) {
        packet.selected = true;  // what the table dispatch makes of a plain PID
        return;
    }
    if (ProgramEntry* program = find_program_by_pmt_pid(*pump.context, pid)) {
        if (program->program_number == 0) {
            // The network PID (NIT) is listed like a PMT PID but carries no PMT: copy it.
            packet.selected = true;
            return;
        }
        rebuild_pmt(pump, packet, *program);
        return;
    }
    const TableDispatch table = dispatch_tables(pump, packet);
    switch (table.kind) {
    case PacketKind::eit:
        packet.selected = !config.keep_eit;
        break;
    case PacketKind::sdt:
        packet.selected = !config.keep_sdt;
        break;
    case PacketKind::tot:
        packet.selected = !config.keep_tot;
        break;
    case PacketKind::pmt:
        break;
    case PacketKind::pat:
    case PacketKind::caption:
    case PacketKind::other:
        packet.selected = true;
        break;
    }
}

}  // namespace

int32_t run_filter_worker(WorkerArgs* args)
{
    if (args == nullptr) {
        return 0;
    }
    PidCounters counters(&args->merge_states[0]);
    PumpHooks hooks;
    hooks.dispatch = dispatch_filter;
    hooks.take_packet = take_caption_packet;
    hooks.user = &counters;
    hooks.delete_empty_output = false;
    hooks.select_plain_pids = true;
    return run_stream_pump(args, 0, hooks);
}

}  // namespace qv
