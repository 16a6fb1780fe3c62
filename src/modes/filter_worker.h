#pragma once
// Filter mode: the stream without its captions. Caption packets are left out and every PMT is
// rebuilt without its caption entries, so the output no longer announces them; SDT, EIT
// present/following and TOT/TDT can be left out on request (-sdt, -eit, -tot).
#include <cstdint>

#include "pump/worker_args.h"

namespace qv {

/// Runs slot 0 of `args`; counts nothing (a filter pass returns 0). Returns 1 after a run and 0
/// when it refused.
int32_t run_filter_worker(WorkerArgs* args);

}  // namespace qv
