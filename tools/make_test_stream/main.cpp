// make_test_stream: writes a deterministic broadcast-like transport stream for the samples,
// the tests and the throughput benchmark.
#include <cstdio>
#include <string>
#include <vector>

#include "stream_arguments.h"

int main(int argc, char** argv)
{
    using namespace qv::test_stream;
    std::vector<std::string> arguments(argv + 1, argv + argc);
    StreamArguments parsed;
    std::string error;
    if (!parse_stream_arguments(arguments, parsed, error)) {
        std::fprintf(stderr, "make_test_stream: %s\n%s", error.c_str(), stream_usage_text());
        return 2;
    }
    if (parsed.help) {
        std::fputs(stream_usage_text(), stdout);
        return 0;
    }
    std::FILE* file = std::fopen(parsed.output_path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "make_test_stream: cannot open %s\n", parsed.output_path.c_str());
        return 1;
    }
    // Collect whole packets into 1 MiB blocks: a gigabyte stream is a thousand writes.
    std::vector<uint8_t> block;
    block.reserve(1 << 20);
    const auto flush = [&] {
        const bool written = block.empty() ||
                             std::fwrite(block.data(), 1, block.size(), file) == block.size();
        block.clear();
        return written;
    };
    const StreamSink sink = [&](const uint8_t* bytes, size_t length) {
        if (block.size() + length > block.capacity() && !flush()) {
            return false;
        }
        block.insert(block.end(), bytes, bytes + length);
        return true;
    };
    const bool made = generate_stream(parsed.options, sink, error);
    const bool flushed = made && flush();
    const bool closed = std::fclose(file) == 0;
    if (!made || !flushed || !closed) {
        std::fprintf(stderr, "make_test_stream: %s\n",
                     made ? "the output cannot be written" : error.c_str());
        std::remove(parsed.output_path.c_str());
        return 1;
    }
    return 0;
}
