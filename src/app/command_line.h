#pragma once
// The command line: options and bare arguments scanned into the run configuration.
#include "pump/run_config.h"

namespace qv {

/// Scans arguments 1 to argc-1 into `config` (options by '-', and by '/' where '/' does not
/// separate paths; keywords compared case-insensitively over their own length).
void scan_arguments(RunConfig& config, int argc, const char* const* argv);

}  // namespace qv
