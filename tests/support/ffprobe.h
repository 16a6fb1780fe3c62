#pragma once
// Asking ffprobe (FFmpeg's stream prober, an independent demuxer) what it reads in a stream: the
// interoperability checks of the rebuilt tables. It runs through the POSIX shell, so builds
// without one report it unavailable instead.
#include <string>

namespace qv::test {

/// True when ffprobe can be run from this build; otherwise `reason` says why not.
bool ffprobe_available(std::string& reason);

/// Runs "ffprobe -v error -show_entries ENTRIES -of FORMAT PATH"; `report` receives its
/// standard output and standard error. False when it cannot run or does not exit with 0.
bool run_ffprobe(const std::string& entries, const std::string& format, const std::string& path,
                 std::string& report);

}  // namespace qv::test
