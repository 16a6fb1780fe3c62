// Runs a fuzz target without libFuzzer: deterministic pseudo-random inputs of varied length and
// shape (random bytes, and bytes with TS sync bytes sprinkled in), so a plain build still
// exercises every target. Argument: the number of inputs (default 10000).
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
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
