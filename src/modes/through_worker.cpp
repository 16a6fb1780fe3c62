#include "modes/through_worker.h"

#include "pump/pump_tables.h"
#include "pump/stream_pump.h"

namespace qv {
namespace {

/// The tables are tracked (clocks, TOT text, caption PIDs); every packet in range is written.
void dispatch_through(StreamPump& pump, PumpPacket& packet)
{
    if (!pump.plain_pid[packet.state->pid]) {
        (void)dispatch_tables(pump, packet);
    }
    packet.selected = true;
}

}  // namespace

int32_t run_through_worker(WorkerArgs* args)
{
    PumpHooks hooks;
    hooks.dispatch = dispatch_through;
    hooks.progress_every_packet = true;
    hooks.delete_empty_output = false;
    hooks.select_plain_pids = true;
    return run_stream_pump(args, 0, hooks);
}

}  // namespace qv
