#pragma once
// Through mode: the whole stream from the source to the output (inside the -duration ranges),
// tracked like every other mode; the pass counts the packets on which a drop was found.
#include <cstdint>

#include "pump/worker_args.h"

namespace qv {

/// Runs slot 0 of `args`. Returns 1 after a run and 0 when it refused.
int32_t run_through_worker(WorkerArgs* args);

}  // namespace qv
