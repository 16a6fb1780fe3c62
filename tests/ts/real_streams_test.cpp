// Whole captured streams through the per-packet path every worker takes: read, parse, continuity,
// clocks.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "support/test_data.h"
#include "ts/packet_header.h"
#include "ts/packet_reader.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

constexpr uint16_t kPcrPid = 0x01FF;
constexpr uint16_t kCaptionPid = 0x0130;

struct Pass {
    int64_t packets = 0;
    int64_t drops = 0;
};

/// Runs a whole file through the worker's per-packet steps; `pcr_pid_known` registers the PCR PID
/// as the PMT of these streams would.
Pass run_file(const std::string& name, StreamContext& context, bool pcr_pid_known)
{
    if (pcr_pid_known) {
        context.pcr_pid_set[0] = kPcrPid;
    }
    Pass pass;
    platform::NativeHandle handle = platform::open_for_reading(test::testdata_dir() + "/arib-ts/" + name);
    EXPECT_NE(handle, platform::kClosedHandle) << name;
    PacketReadBuffer reader;
    reader.capacity = 65536;
    const PacketSource source{handle, nullptr};
    const uint8_t* packet = nullptr;
    while (read_packet(reader, source, 188, packet) != 0) {
        PidState* state = parse_packet(context, packet);
        if (state == nullptr) {
            continue;
        }
        ++pass.packets;
        if (check_continuity(context, *state)) {
            ++pass.drops;
        }
        update_stream_clocks(context, *state);
    }
    platform::close_handle(handle);
    return pass;
}

TEST(RealStreams, ClocksContinueAcrossTheThirtyThreeBitWrap)
{
    StreamContext context;
    const Pass pass = run_file("pokemon-2023.wrap.ts", context, true);
    EXPECT_EQ(pass.packets, 8513);
    EXPECT_EQ(pass.drops, 0);
    // The first PES has PTS 8584534592; the 1500th, 1499 x 100 ms later, has wrapped to 8091000.
    EXPECT_EQ(context.pts_clock.origin, 8584534592u);
    EXPECT_EQ(context.pts_clock.elapsed, 1499u * 9000);
    EXPECT_EQ(context.pcr_clock.origin, 8584480592u);
    EXPECT_GT(context.pcr_clock.elapsed, context.pts_clock.elapsed);
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pcr_clock);
    EXPECT_EQ(context.pcr_clock.current_time.minutes, 2);
}

TEST(RealStreams, StreamWithoutPcrIsTimedByItsPts)
{
    StreamContext context;
    const Pass pass = run_file("toriko_subs.nopcr.ts", context, true);
    EXPECT_EQ(pass.packets, 5212);
    EXPECT_EQ(pass.drops, 0);
    EXPECT_EQ(context.pcr_clock.origin, 0u);
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pts_clock);
    EXPECT_EQ(context.pts_clock.elapsed, 16488000u - 900000u);
}

TEST(RealStreams, TimestampedUnitsGiveTheSamePacketsAndClocks)
{
    StreamContext context;
    const Pass pass = run_file("aijin.ts192-padff.ts", context, true);
    EXPECT_EQ(pass.packets, 11280);
    EXPECT_EQ(pass.drops, 0);
    EXPECT_EQ(context.pts_clock.elapsed, 19152000u - 900000u);
    ASSERT_NE(find_pid_state(context, kCaptionPid), nullptr);
    EXPECT_EQ(context.pid_states.front()->pid, 0x0000);  // the PAT comes first
}

TEST(RealStreams, PcrOnlyPacketsCountAsDropsUntilTheirPidIsKnown)
{
    // The PCR packets carry no payload, so their counter stands still: every one after the first
    // breaks the sequence unless the PMT has named the PID.
    StreamContext context;
    const Pass pass = run_file("chibi_maruko_chan.tot.ts", context, false);
    const PidState* pcr = find_pid_state(context, kPcrPid);
    ASSERT_NE(pcr, nullptr);
    EXPECT_EQ(pcr->drops, pcr->packets - 1);
    EXPECT_EQ(pass.drops, pcr->drops);
}

}  // namespace
}  // namespace qv
