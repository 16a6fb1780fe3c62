#pragma once
// Extract mode: the caption-related packets of a stream (PAT, PMTs, caption PIDs, the first
// packet of each clock, and SDT/EIT/TOT on request) cut into a caption TS.
#include <cstdint>

#include "pump/worker_args.h"

namespace qv {

/// Runs slot 0 of `args`; counts caption packets, or new caption texts with -capstr. Returns 1
/// after a run and 0 when it refused.
int32_t run_extract_worker(WorkerArgs* args);

}  // namespace qv
