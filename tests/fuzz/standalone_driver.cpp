// Runs a fuzz target without libFuzzer: first every file of the folders (or the files) named
// after the count, in name order, then deterministic pseudo-random inputs of varied length and
// shape (random bytes, and bytes with TS sync bytes sprinkled in), so a plain or thread-sanitizer
// build still exercises every target, its seeds included.
// Arguments: the number of random inputs (default 10000), then seed folders or files.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void run_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> input{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(input.data(), input.size());
}

void run_seeds(const std::filesystem::path& place)
{
    std::error_code error;
    if (!std::filesystem::is_directory(place, error)) {
        run_file(place);
        return;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(place, error)) {
        if (entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        run_file(file);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
    for (int i = 2; i < argc; ++i) {
        run_seeds(argv[i]);
    }
    std::mt19937 random(12345);
    std::vector<uint8_t> input;
    for (long n = 0; n < count; ++n) {
        size_t length = random() % 4096;
        input.resize(length);
        for (auto& byte : input) {
            byte = static_cast<uint8_t>(random());
        }
        if (n % 2 == 1) {
            for (size_t at = random() % 8; at < length; at += 188) {
                input[at] = 0x47;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
