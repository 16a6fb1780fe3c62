#include "ts/packetizer.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/ts_builders.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::Bytes;

/// A run: TS header with unit start on `pid` and `counter`, then `payload_length` numbered bytes.
Bytes make_run(size_t length, uint8_t counter = 0, uint16_t pid = 0x1F0)
{
    Bytes run = {0x47, static_cast<uint8_t>(0x40 | (pid >> 8)), static_cast<uint8_t>(pid),
                 static_cast<uint8_t>(0x10 | counter)};
    for (size_t i = 4; i < length; ++i) {
        run.push_back(static_cast<uint8_t>(i % 251));  // never 0xFF
    }
    return run;
}

size_t fill_bytes(const uint8_t* packet)
{
    size_t count = 0;
    for (size_t i = 188; i > 0 && packet[i - 1] == 0xFF; --i) {
        ++count;
    }
    return count;
}

TEST(Packetizer, RunLengths)
{
    struct Case {
        size_t length;
        size_t packets;
        size_t last_fill;  // 0xFF bytes at the end of the last packet
    };
    const Case cases[] = {
        {5, 1, 183},        {185, 1, 3},  {188, 1, 0},   {189, 2, 183},
        {188 + 184, 2, 0},  {376, 3, 180}, {188 + 184 * 5, 6, 0}, {188 + 184 * 5 + 1, 7, 183},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("run of " + std::to_string(c.length));
        const Bytes run = make_run(c.length);
        const std::vector<uint8_t> packets = packetize(run.data(), run.size(), nullptr);
        ASSERT_EQ(packets.size(), c.packets * 188);
        EXPECT_EQ(fill_bytes(packets.data() + packets.size() - 188), c.last_fill);
        // Payload bytes come out in order, 184 per packet after the first.
        Bytes payload(packets.begin(), packets.begin() + 188);
        for (size_t k = 1; k < c.packets; ++k) {
            payload.insert(payload.end(), packets.begin() + k * 188 + 4, packets.begin() + (k + 1) * 188);
        }
        payload.resize(c.length);
        EXPECT_EQ(payload, run);
    }
}

TEST(Packetizer, LaterPacketsRepeatTheHeaderWithoutUnitStartAndWithPayloadOnly)
{
    Bytes run = make_run(376);
    run[1] |= 0x20;  // transport_priority is kept
    run[3] = 0x35;   // scrambling 00, adaptation field and payload, counter 5
    run[4] = 1;      // adaptation field of one byte (flags 0)
    run[5] = 0x00;
    const std::vector<uint8_t> packets = packetize(run.data(), run.size(), nullptr);
    ASSERT_EQ(packets.size(), 3u * 188);
    EXPECT_EQ(Bytes(packets.begin(), packets.begin() + 188), Bytes(run.begin(), run.begin() + 188));
    for (size_t k = 1; k < 3; ++k) {
        const uint8_t* packet = packets.data() + k * 188;
        EXPECT_EQ(packet[0], 0x47);
        EXPECT_EQ(packet[1], 0x21);  // unit start cleared, priority and PID kept
        EXPECT_EQ(packet[2], 0xF0);
        EXPECT_EQ(packet[3], 0x15);  // adaptation_field_control 01
    }
    EXPECT_EQ(packets[188 + 4], run[188]);
    EXPECT_EQ(packets[2 * 188 + 4], run[372]);
    EXPECT_EQ(fill_bytes(packets.data() + 2 * 188), 180u);
}

TEST(Packetizer, CounterAdoptsTheFirstPacketsCounterThenContinues)
{
    PidCounter counter;
    const Bytes run = make_run(376, 7);
    std::vector<uint8_t> packets = packetize(run.data(), run.size(), &counter);
    ASSERT_EQ(packets.size(), 3u * 188);
    EXPECT_EQ(packets[3] & 0x0F, 7);
    EXPECT_EQ(packets[188 + 3] & 0x0F, 8);
    EXPECT_EQ(packets[376 + 3] & 0x0F, 9);
    EXPECT_EQ(counter.last, 9);
    EXPECT_EQ(counter.next, 10);
    EXPECT_EQ(counter.packets, 3);
    EXPECT_FALSE(counter.first_use);

    const Bytes other = make_run(100, 2);  // its own counter is ignored now
    packets = packetize(other.data(), other.size(), &counter);
    ASSERT_EQ(packets.size(), 188u);
    EXPECT_EQ(packets[3] & 0x0F, 10);

    PidCounter wrapping;
    const Bytes late = make_run(376, 15);
    packets = packetize(late.data(), late.size(), &wrapping);
    EXPECT_EQ(packets[188 + 3] & 0x0F, 0);
    EXPECT_EQ(wrapping.next, 2);
}

TEST(Packetizer, RefusesWhatIsNotAPacketStart)
{
    PidCounter counter;
    Bytes run = make_run(4);
    EXPECT_TRUE(packetize(run.data(), run.size(), &counter).empty());
    run = make_run(100);
    run[0] = 0x46;
    EXPECT_TRUE(packetize(run.data(), run.size(), &counter).empty());
    run[0] = 0x47;
    run[1] |= 0x80;  // transport_error_indicator
    EXPECT_TRUE(packetize(run.data(), run.size(), &counter).empty());
    EXPECT_TRUE(packetize(nullptr, 100, &counter).empty());
    EXPECT_TRUE(counter.first_use);
    EXPECT_EQ(counter.packets, 0);
}

/// A PES start packet run with an adaptation field of `adaptation` bytes in front of it.
Bytes pes_run(std::optional<uint64_t> pts, std::optional<uint64_t> dts, const Bytes& adaptation = {})
{
    test::PacketOptions options;
    options.unit_start = true;
    if (!adaptation.empty()) {
        options.adaptation = adaptation;
    }
    const Bytes header = test::pes_header(0xBD, 200, pts, dts);
    return test::make_packet(0x130, 3, test::concat({header, Bytes(40, 0x22)}), options);
}

TEST(TimeStampWriters, PtsAndDtsFieldsWithTheirPrefixes)
{
    Bytes run = pes_run(1, std::nullopt);
    PidState state;
    EXPECT_TRUE(set_pts_field(state, run.data(), run.size(), 0x1DEADBEEF));
    EXPECT_EQ(Bytes(run.begin() + 13, run.begin() + 18), test::time_stamp_field(0x2, 0x1DEADBEEF));
    EXPECT_EQ(run[13] >> 4, 0x2);
    // No DTS in this PES: nothing written.
    const Bytes before = run;
    EXPECT_FALSE(set_dts_field(state, run.data(), run.size(), 5));
    EXPECT_EQ(run, before);

    run = pes_run(1, 1, test::pcr_adaptation(0));
    PidState both;
    EXPECT_TRUE(set_pts_field(both, run.data(), run.size(), 0x100000000));
    EXPECT_TRUE(set_dts_field(both, run.data(), run.size(), 0x0FFFFFFFF));
    const size_t p = both.unit_start_offset;
    EXPECT_EQ(p, 12u);
    EXPECT_EQ(Bytes(run.begin() + p + 9, run.begin() + p + 14), test::time_stamp_field(0x3, 0x100000000));
    EXPECT_EQ(Bytes(run.begin() + p + 14, run.begin() + p + 19), test::time_stamp_field(0x1, 0x0FFFFFFFF));

    PesHeaderInfo reread;
    ASSERT_TRUE(parse_pes_header(reread, run.data() + p, run.size() - p));
    EXPECT_EQ(reread.pts, 0x100000000u);
    EXPECT_EQ(reread.dts, 0x0FFFFFFFFu);
}

TEST(TimeStampWriters, PcrWriteLeavesReservedBitsAndExtension)
{
    Bytes run = pes_run(1, std::nullopt, test::pcr_adaptation(0x123456789, 0x1A5));
    const uint8_t reserved_and_extension = run[10] & 0x7F;
    const uint8_t extension_low = run[11];
    PidState state;
    EXPECT_TRUE(set_pcr_field(state, run.data(), run.size(), 0x1FFFFFFFF));
    AdaptationFieldInfo info;
    parse_adaptation_field(info, run.data() + 4, 184);
    EXPECT_EQ(info.pcr_base, 0x1FFFFFFFFu);
    EXPECT_EQ(run[10] & 0x7F, reserved_and_extension);
    EXPECT_EQ(run[11], extension_low);
    EXPECT_TRUE(set_pcr_field(state, run.data(), run.size(), 0));
    parse_adaptation_field(info, run.data() + 4, 184);
    EXPECT_EQ(info.pcr_base, 0u);
    EXPECT_EQ(run[10] & 0x7F, reserved_and_extension);
}

TEST(TimeStampWriters, PacketsWithoutTheFieldStayUnchanged)
{
    Bytes run = pes_run(std::nullopt, std::nullopt);  // no adaptation field, no PTS
    const Bytes before = run;
    PidState state;
    (void)set_pcr_field(state, run.data(), run.size(), 12345);
    (void)set_pts_field(state, run.data(), run.size(), 12345);
    (void)set_dts_field(state, run.data(), run.size(), 12345);
    EXPECT_EQ(run, before);

    // A continuation packet (no unit start) carries no PES header to rewrite.
    Bytes continuation = test::make_packet(0x130, 1, test::pes_header(0xBD, 10, 99));
    const Bytes unchanged = continuation;
    PidState other;
    (void)set_pts_field(other, continuation.data(), continuation.size(), 1);
    EXPECT_EQ(continuation, unchanged);
}

TEST(TimeStampWriters, ShortRunIsNeverReadOrWrittenPastItsEnd)
{
    // A run that ends inside the PES header: the PTS lies past the run.
    Bytes run = pes_run(1, std::nullopt);
    run.resize(15);
    const Bytes before = run;
    PidState state;
    (void)set_pts_field(state, run.data(), run.size(), 77);
    EXPECT_EQ(run, before);
}

std::vector<Bytes> g_written;
void capture(uint32_t, const uint8_t* data, uint32_t length) { g_written.emplace_back(data, data + length); }

TEST(RebuiltPackets, TimeStampsRewrittenPacketizedAndWritten)
{
    g_written.clear();
    PacketWriter writer;
    writer.sender_id = 1;
    writer.send_data = capture;
    PidCounter counter;

    Bytes run = test::concat({pes_run(1, std::nullopt, test::pcr_adaptation(5)), Bytes(100, 0x33)});
    TimeStampRewrite rewrite;
    rewrite.pcr = 900;
    rewrite.pts = 1800;
    EXPECT_EQ(write_rebuilt_packet(writer, run.data(), run.size(), nullptr, &counter, rewrite), 0u);
    EXPECT_EQ(writer.pending, 2 * 188);
    EXPECT_EQ(flush_packets(writer), 2u * 188);
    ASSERT_EQ(g_written.size(), 1u);
    const Bytes& out = g_written[0];

    StreamContext context;
    PidState* state = parse_packet(context, out.data());
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->adaptation.pcr_base, 900u);
    EXPECT_EQ(state->pes.pts, 1800u);
    EXPECT_EQ(out[3] & 0x0F, 3);
    EXPECT_EQ(out[188 + 3] & 0x0F, 4);
    EXPECT_EQ(out[188 + 4], 0x33);

    PacketWriter nowhere;
    EXPECT_EQ(write_rebuilt_packet(nowhere, run.data(), run.size(), nullptr, &counter, rewrite), 0u);
    EXPECT_EQ(counter.packets, 2);  // nothing packetized for a writer without destination
}

}  // namespace
}  // namespace qv
