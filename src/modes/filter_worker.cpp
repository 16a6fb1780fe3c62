#include "modes/filter_worker.h"

#include <cinttypes>
#include <vector>

#include "base/console_output.h"
#include "pump/pump_tables.h"
#include "pump/stream_pump.h"
#include "ts/pat_pmt.h"

namespace qv {
namespace {

struct FilterState {
    /// Continuity of the rebuilt PMTs, one counter per PMT PID: each PID continues from its own
    /// first input packet (a single counter would make every other PMT PID jump). The first PMT
    /// PID seen uses the pass's shared counter.
    std::vector<PidCounter*> by_pid = std::vector<PidCounter*>(kPidCount, nullptr);
    std::vector<PidCounter> own = std::vector<PidCounter>(kPidCount);
    PidCounter* shared = nullptr;
    bool shared_taken = false;
};

PidCounter& counter_for(FilterState& filter, uint16_t pid)
{
    PidCounter*& counter = filter.by_pid[pid & 0x1FFF];
    if (counter == nullptr) {
        if (!filter.shared_taken && filter.shared != nullptr) {
            filter.shared_taken = true;
            counter = filter.shared;
        } else {
            counter = &filter.own[pid & 0x1FFF];
        }
        *counter = PidCounter{};
        counter->pid = pid;
    }
    return *counter;
}

/// The PID lookups changed: every PID must be looked up again.
void forget_plain_pids(StreamPump& pump)
{
    for (uint16_t plain : pump.plain_pids) {
        pump.plain_pid[plain] = false;
    }
    pump.plain_pids.clear();
}

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
    FilterState& filter = *static_cast<FilterState*>(pump.hooks.user);
    PmtRewriteRequest request;
    request.request_word = kRemoveCaptionEntries;
    if (pump.output_kind != OutputKind::none && !pump.write_failed) {
        request.output = pump.writer.get();
        request.counter = &counter_for(filter, packet.state->pid);
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
    if (!pump.plain_pid[pid]) {
        if (ProgramEntry* program = find_program_by_pmt_pid(*pump.context, pid)) {
            if (program->program_number == 0) {
                // The network PID (NIT) is listed like a PMT PID but carries no PMT: copy it.
                packet.selected = true;
                return;
            }
            rebuild_pmt(pump, packet, *program);
            return;
        }
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
    FilterState filter;
    filter.shared = &args->merge_states[0];
    PumpHooks hooks;
    hooks.dispatch = dispatch_filter;
    hooks.take_packet = take_caption_packet;
    hooks.user = &filter;
    hooks.delete_empty_output = false;
    return run_stream_pump(args, 0, hooks);
}

}  // namespace qv
