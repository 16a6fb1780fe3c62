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



}  // namespace qv
