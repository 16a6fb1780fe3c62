#pragma once
// Display mode (the default): no output; the decoded caption texts, and on request the caption
// time stamps, service and programme names, clock wrap-arounds, drops and hex dumps of chosen
// packets, printed while the stream is read.
#include <cstdint>
#include <string_view>

#include "pump/stream_pump.h"

namespace qv {

/// Runs slot 0 of `args`; counts the caption texts printed. Returns 1 after a run and 0 when it
/// refused.
int32_t run_display_worker(WorkerArgs* args);

/// True when -dump value `wanted` asks for a packet of `pid` that the dispatch classed as `kind`: "all";
/// the PID as "0x%x" compared over that text's length; "pat", "pmt", "eit", "sdt", "tot" or
/// "caption" for packets of that kind (case-insensitive prefixes of `wanted`).
bool dump_requested(std::string_view wanted, uint16_t pid, PacketKind kind);

}  // namespace qv
