#pragma once
// The program's entry: start-up, the argument scan, the passes and teardown.
#include <cstdint>
#include <functional>

#include "pump/run_config.h"

namespace qv {

/// Runs one pass for config.source_path and returns its count.
using PassRunner = std::function<int32_t(RunConfig&)>;

/// Runs the whole program for the given arguments (native multibyte text) with the real passes;
/// returns the exit code.
int run_program(int argc, char** argv);
/// The same with another pass runner (tests count passes with it).
int run_program(int argc, char** argv, const PassRunner& run);

/// Runs the cycles of passes over config.source_list (-loop, -loopN), saving and restoring
/// log_path and console_flags around each pass; returns the sum of the pass counts.
int32_t run_cycles(RunConfig& config, const PassRunner& run);

}  // namespace qv
