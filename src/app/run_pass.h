#pragma once
// One pass over one source: checks, default paths, the mode's worker threads, end-of-pass reports.
#include <cstdint>
#include <string>

#include "pump/run_config.h"

namespace qv {

/// The output path of the mode's first worker: cap_path (extract, convert), merge_path,
/// through_path, filter_path, none (display).
std::string slot_output(const RunConfig& config);

/// True when the mode's output is standard output ("CON"): console text must then stay out of
/// standard output for the whole run.
bool writes_stream_to_stdout(const RunConfig& config);

/// Runs one pass for config.source_path and returns what it counted (the mode's count, or 0
/// when a check fails).
int32_t run_pass(RunConfig& config);

}  // namespace qv
