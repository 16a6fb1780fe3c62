// ffprobe through the POSIX shell, its output captured in a scratch file.
#include "support/ffprobe.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/test_data.h"

namespace qv::test {
namespace {

/// `text` as one shell word: in single quotes, each ' written as '\''.
std::string shell_quoted(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

/// Runs `command` with both output streams into a scratch file; its bytes in `output`.
bool run_captured(const std::string& command, std::string& output)
{
    static const std::string tag = std::to_string(std::random_device{}());
    static std::atomic<unsigned> serial{0};
    const std::string capture =
        platform::temp_directory() + "qv_ffprobe_" + tag + "_" + std::to_string(serial++) + ".txt";
    const int status = std::system((command + " > " + shell_quoted(capture) + " 2>&1").c_str());
    const std::vector<uint8_t> bytes = read_whole_file(capture);
    output.assign(bytes.begin(), bytes.end());
    std::remove(capture.c_str());
    return status == 0;
}

}  // namespace

bool ffprobe_available(std::string& reason)
{
    std::string version;
    if (!run_captured("ffprobe -version", version)) {
        reason = "ffprobe (Debian package ffmpeg) is not installed";
        return false;
    }
    return true;
}

bool run_ffprobe(const std::string& entries, const std::string& format, const std::string& path,
                 std::string& report)
{
    return run_captured("ffprobe -v error -show_entries " + shell_quoted(entries) + " -of " +
                            shell_quoted(format) + " " + shell_quoted(path),
                        report);
}

}  // namespace qv::test
