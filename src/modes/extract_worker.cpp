#include "modes/extract_worker.h"

#include <cinttypes>

#include "base/console_output.h"
#include "pump/pump_tables.h"
#include "pump/stream_pump.h"

namespace qv {
namespace {

/// The "CAPTION PCR" status line of -detail: the stream time at a caption packet.
void print_caption_clock(StreamPump& pump, PumpPacket& packet)
{
    // Before any clock has started the line shows 0:00:00.000.
    const ClockTracker& clock = current_clock(pump);
    close_status_line();
    const int64_t position = packet_position(pump, packet.data);
    const ClockTime& t = clock.current_time;
    print_message(520, "－ CAPTION PCR %d:%02d:%02d.%03d 0x%09" PRIx64 " %s%s+0x%" PRIX64 "        \r",
                  t.hours, t.minutes, t.seconds, t.milliseconds, clock.elapsed,
                  pump.tot_text.c_str(), pump.tot_text.empty() ? "" : " ",
                  static_cast<uint64_t>(position < 0 ? 0 : position));
    line_closed = false;
}

void dispatch_extract(StreamPump& pump, PumpPacket& packet)
{
    const RunConfig& config = *pump.config;
    const TableDispatch table = dispatch_tables(pump, packet);
    switch (table.kind) {
    case PacketKind::pat:
    case PacketKind::pmt:
        packet.selected = true;
        break;
    case PacketKind::eit:
        packet.selected = config.keep_eit;
        break;
    case PacketKind::sdt:
        packet.selected = config.keep_sdt;
        break;
    case PacketKind::tot:
        packet.selected = config.keep_tot;
        break;
    case PacketKind::caption:
        if (!config.caption_by_text) {
            pump.args->result_count.fetch_add(1);
        } else if (print_new_caption_text(pump, packet, *table.caption)) {
            pump.args->result_count.fetch_add(1);
        }
        if (config.detail) {
            print_caption_clock(pump, packet);
        }
        packet.selected = true;
        break;
    case PacketKind::other:
        break;
    }
}

}  // namespace

int32_t run_extract_worker(WorkerArgs* args)
{
    PumpHooks hooks;
    hooks.dispatch = dispatch_extract;
    hooks.mark_first_clocks = true;
    hooks.delete_empty_output = true;
    hooks.skip_plain_pids = true;
    return run_stream_pump(args, 0, hooks);
}

}  // namespace qv
