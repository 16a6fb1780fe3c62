#pragma once
// The output and log names a pass derives beside its source when the command line left them
// empty.
#include <string>

#include "pump/run_config.h"

namespace qv {

/// Fills the empty output path of the mode (and the log path when logging is on) from `source`
/// (a file path without ";offset") and the program name `program`.
void apply_default_paths(RunConfig& config, const std::string& source, const std::string& program);

}  // namespace qv
