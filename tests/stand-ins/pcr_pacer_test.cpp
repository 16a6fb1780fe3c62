#include "pcr_pacer.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "support/file_tuner_setup.h"

namespace standin {
namespace {

using Packet = std::array<uint8_t, kPacketSize>;

/// A packet of `pid`, with a PCR of `pcr` (27 MHz) when `with_pcr`.
Packet packet(uint16_t pid, bool with_pcr, uint64_t pcr = 0)
{
    Packet p{};
    p[0] = 0x47;
    p[1] = static_cast<uint8_t>(pid >> 8);
    p[2] = static_cast<uint8_t>(pid);
    p[3] = 0x10;
    if (with_pcr) {
        const uint64_t base = pcr / 300;
        const uint64_t extension = pcr % 300;
        p[3] = 0x30;
        p[4] = 7;
        p[5] = 0x10;
        p[6] = static_cast<uint8_t>(base >> 25);
        p[7] = static_cast<uint8_t>(base >> 17);
        p[8] = static_cast<uint8_t>(base >> 9);
        p[9] = static_cast<uint8_t>(base >> 1);
        p[10] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
        p[11] = static_cast<uint8_t>(extension);
    }
    return p;
}

TEST(PcrPacing, PlayTimesFollowTheClockAndSpreadBetweenPcrs)
{
    PcrPacer pacer;
    EXPECT_EQ(pacer.place(packet(0, false).data()), 0u);  // before any PCR
    EXPECT_EQ(pacer.place(packet(0x100, true, 27000000).data()), 0u);
    // Three packets, then a PCR 40 ms later: the packets between two PCRs take the rate of the
    // interval before them, which is not known until the second PCR.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pacer.place(packet(0x101, false).data()), 0u);
    }
    EXPECT_EQ(pacer.place(packet(0x100, true, 27000000 + 27000 * 40).data()), 40000u);
    EXPECT_EQ(pacer.place(packet(0x101, false).data()), 50000u);  // 4 packets per 40 ms
    EXPECT_EQ(pacer.place(packet(0x101, false).data()), 60000u);
    // A PCR of another programme does not pace.
    EXPECT_EQ(pacer.place(packet(0x200, true, 0).data()), 70000u);
    EXPECT_NEAR(pacer.bit_rate(), 4 * 188 * 8 / 0.040, 1.0);
}

TEST(PcrPacing, JumpsAndWrapsKeepTimeRunningForward)
{
    const uint64_t modulus = (uint64_t{1} << 33) * 300;
    const int64_t ms = 27000;
    struct Case {
        const char* what;
        int64_t base;   // the first PCR; the second follows 40 ms later
        int64_t third;  // the third PCR after the base, 27 MHz
        uint64_t expected;
    };
    const Case cases[] = {
        // Across the wrap-around of the 33-bit base the clock simply runs on: 60 ms after the
        // second PCR.
        {"wrap-around", static_cast<int64_t>(modulus) - 40 * ms, 100 * ms, 100000},
        // A jump continues the time line by one packet at the last rate (4 packets per 40 ms).
        {"jump back (the file looped)", 100000 * ms, -50000 * ms, 80000},
        {"jump ahead", 100000 * ms, 10040 * ms, 80000},
    };
    for (const Case& c : cases) {
        PcrPacer pacer;
        const uint64_t base = static_cast<uint64_t>(c.base);
        pacer.place(packet(0x100, true, base).data());
        for (int i = 0; i < 3; ++i) {
            pacer.place(packet(0x101, false).data());
        }
        EXPECT_EQ(pacer.place(packet(0x100, true, (base + 40 * 27000) % modulus).data()), 40000u);
        for (int i = 0; i < 3; ++i) {
            pacer.place(packet(0x101, false).data());
        }
        const uint64_t third = (base + modulus + static_cast<uint64_t>(c.third)) % modulus;
        EXPECT_EQ(pacer.place(packet(0x100, true, third).data()), c.expected) << c.what;
    }
}

TEST(PcrPacing, AGeneratedStreamPlaysForItsOwnLength)
{
    const std::vector<uint8_t> stream = qv::test::generated_stream(4000, 2000000);
    ASSERT_FALSE(stream.empty());
    PcrPacer pacer;
    uint64_t last = 0;
    for (size_t at = 0; at + kPacketSize <= stream.size(); at += kPacketSize) {
        const uint64_t time = pacer.place(stream.data() + at);
        EXPECT_GE(time, last);
        last = time;
    }
    EXPECT_NEAR(static_cast<double>(last), 4e6, 0.1e6);
    EXPECT_NEAR(pacer.bit_rate(), 2e6, 0.1e6);
}

}  // namespace
}  // namespace standin
