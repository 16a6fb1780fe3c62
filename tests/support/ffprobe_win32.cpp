// Windows builds run their tests under Wine or on Windows, where neither ffprobe nor the POSIX
// shell that runs it is at hand: the interoperability checks skip.
#include "support/ffprobe.h"

namespace qv::test {
namespace {

constexpr const char* kNoShell =
    "ffprobe is run through a POSIX shell, which Windows builds do not have";

}  // namespace

bool ffprobe_available(std::string& reason)
{
    reason = kNoShell;
    return false;
}

bool run_ffprobe(const std::string&, const std::string&, const std::string&, std::string& report)
{
    report = kNoShell;
    return false;
}

}  // namespace qv::test
