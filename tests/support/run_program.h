#pragma once
// Running the built program from a test: arguments, optional standard input from a file, and
// the captured standard output, standard error and exit code.
#include <string>
#include <vector>

namespace qv::test {

struct ProgramRun {
    int exit_code = -1;  ///< the exit status, or -1 when the program did not end normally
    std::string out;     ///< standard output, byte for byte
    std::string err;
};

/// Runs `program` with `arguments` in `directory` (empty: the current one); standard input reads
/// `input_path` (empty: /dev/null).
ProgramRun run_program(const std::string& program, const std::vector<std::string>& arguments,
                       const std::string& directory = {}, const std::string& input_path = {});

/// The exit status of a run whose passes counted `count` in all: the count itself up to 255 and
/// 255 above on POSIX, the 32-bit count on Windows.
int expected_exit_status(long long count);

/// A fresh empty directory for one test, under the temporary directory.
std::string make_scratch_directory(const std::string& label);

}  // namespace qv::test
