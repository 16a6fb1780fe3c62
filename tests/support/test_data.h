#pragma once
// Paths and loaders for the test data: the real broadcast captures under tests/data and the
// project's own samples.
#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

/// Directory of the real-broadcast test data kept in the repository (tests/data).
std::string testdata_dir();
/// Directory of the source tree (for samples/).
std::string source_dir();
/// Path of the built program.
std::string executable_path();
/// A path in the temporary directory that no other test process uses: `stem`, the process id,
/// a serial number of this process and `extension` ("" for a directory).
std::string unique_temp_path(const std::string& stem, const std::string& extension);
/// The whole file, or an empty vector when it cannot be read.
std::vector<uint8_t> read_whole_file(const std::string& path);

}  // namespace qv::test
