#pragma once
// The program's entry: start-up, the argument scan, the passes and teardown.

namespace qv {

/// Runs the whole program for the given arguments (native multibyte text); returns the exit code.
int run_program(int argc, char** argv);

}  // namespace qv
