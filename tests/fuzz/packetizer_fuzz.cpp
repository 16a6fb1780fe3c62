// Arbitrary runs through the time-stamp writers and the packetizer: the packets must carry the
// run's bytes in order, padded with 0xFF, with counters that continue from run to run.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ts/packetizer.h"

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

uint64_t take_value(const uint8_t* bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < 5; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value & 0x1FFFFFFFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace qv;
    if (size < 16) {
        return 0;
    }
    const uint8_t flags = data[0];
    const uint64_t pcr = take_value(data + 1);
    const uint64_t pts = take_value(data + 6);
    const uint64_t dts = take_value(data + 11);
    std::vector<uint8_t> run(data + 15, data + size);
    if (flags & 0x80) {
        run[0] = 0x47;  // mostly real runs
    }
    const std::vector<uint8_t> original = run;
    const size_t length = run.size();

    PidState state;
    if (flags & 1) (void)set_pcr_field(state, run.data(), length, pcr);
    if (flags & 2) (void)set_pts_field(state, run.data(), length, pts);
    if (flags & 4) (void)set_dts_field(state, run.data(), length, dts);
    require(run.size() == length);
    if (length > 0) {
        require(run[0] == original[0]);
    }

    PidCounter counter;
    const std::vector<uint8_t> packets = packetize(run.data(), length, &counter);
    if (packets.empty()) {
        return 0;
    }
    require(length > 4 && run[0] == 0x47);
    const size_t expected = length <= 188 ? 1 : 1 + (length - 188 + 183) / 184;
    require(packets.size() == expected * 188);
    require(counter.packets == static_cast<int64_t>(expected));
    // The first packet is the run's head; later ones add 184 bytes each; the rest is 0xFF.
    const size_t head = length < 188 ? length : 188;
    // The head keeps the run's header; its counter is the one adopted from it.
    require(std::memcmp(packets.data(), run.data(), 3) == 0 && packets[3] == run[3]);
    require(std::memcmp(packets.data() + 4, run.data() + 4, head - 4) == 0);
    for (size_t i = head; i < 188; ++i) {
        require(packets[i] == 0xFF);
    }
    for (size_t k = 1; k < expected; ++k) {
        const uint8_t* packet = packets.data() + k * 188;
        require(packet[0] == 0x47 && (packet[1] & 0x40) == 0 && (packet[3] & 0x30) == 0x10);
        require((packet[3] & 0x0F) == ((packets[3] + k) & 0x0F));
        const size_t from = 4 + 184 * k;
        const size_t count = length - from < 184 ? length - from : 184;
        require(std::memcmp(packet + 4, run.data() + from, count) == 0);
        for (size_t i = 4 + count; i < 188; ++i) {
            require(packet[i] == 0xFF);
        }
    }
    return 0;
}
