#pragma once
// The command line of make_test_stream.
#include <string>
#include <vector>

#include "stream_builder.h"

namespace qv::test_stream {

/// What the command line asks for.
struct StreamArguments {
    StreamOptions options;
    std::string output_path;
    bool help = false;
};

/// Reads the arguments (without the program name). False with a message on an unknown option,
/// a missing or malformed value, or a missing output path.
[[nodiscard]] bool parse_stream_arguments(const std::vector<std::string>& arguments,
                                          StreamArguments& result, std::string& error);

/// The usage text.
const char* stream_usage_text();

}  // namespace qv::test_stream
