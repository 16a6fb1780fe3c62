#pragma once
// One pass over one source: checks, default paths, the mode's worker threads, end-of-pass reports.
#include <cstdint>

#include "app/run_config.h"

namespace qv {

/// Runs one pass for config.source_path and returns what it counted (the mode's count, or 0
/// when a check fails).
int32_t run_pass(RunConfig& config);

}  // namespace qv
