#pragma once
// The worker threads of each mode, in start order.
#include <cstdint>

#include "pump/worker_args.h"

namespace qv {

/// One thread a pass starts: its entry and the number a start failure shows.
struct WorkerStart {
    WorkerEntry entry = nullptr;
    int32_t number = 0;
};

/// The threads of `mode` in start order (two in merge mode); returns how many.
int32_t worker_starts(RunMode mode, WorkerStart (&starts)[2]);

/// Workers of the modes that are not built yet: they refuse (0) and leave the slots finished.
int32_t run_pending_worker(WorkerArgs* args);
/// The same, after one line that says the mode is not built (the first thread of such a mode).
int32_t run_unbuilt_worker(WorkerArgs* args);

}  // namespace qv
