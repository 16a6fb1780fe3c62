#pragma once
// The channel list of the file tuner: a text file "<library name>.channels" beside the library,
// one channel a line:
//
//   SPACE CHANNEL PATH [realtime|xN|fast] [loop]     # a comment
//
// SPACE and CHANNEL are decimal numbers; PATH names a transport stream file, relative to the
// library's directory unless absolute, in double quotes when it holds blanks. The stream plays at
// the pace of its PCR (realtime, the default), N times as fast (xN, N a positive number such as 8
// or 0.5), or without pacing (fast); with `loop` it starts again at its end.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

enum class Pace { realtime, times, fast };

struct ChannelEntry {
    uint32_t space = 0;
    uint32_t channel = 0;
    std::string path;  ///< resolved against the library's directory
    Pace pace = Pace::realtime;
    double speed = 1.0;  ///< how many times as fast as the stream's own clock (realtime: 1)
    bool loop = false;
    int line = 0;  ///< where it was written
};

struct ChannelList {
    std::vector<ChannelEntry> channels;  ///< in the order of the file
    std::vector<std::string> errors;     ///< "line N: …" for every line that was left out
};

/// Reads the lines of a channels file. Lines with an error are left out and described in
/// `errors`; a later line for a space and channel already listed is such an error.
ChannelList parse_channels(std::string_view text, const std::string& base_directory);

/// The entry for `space` and `channel`, or null.
const ChannelEntry* find_channel(const ChannelList& list, uint32_t space, uint32_t channel);

/// True for a path that does not depend on the current directory.
bool is_absolute_path(const std::string& path);

}  // namespace standin
