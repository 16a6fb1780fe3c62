#include "ts/stream_clock.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/ts_builders.h"
#include "ts/packet_header.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::Bytes;

constexpr uint64_t k2To33 = uint64_t{1} << 33;

void expect_time(const ClockTime& time, int hours, int minutes, int seconds, int milliseconds)
{
    EXPECT_EQ(time.hours, hours);
    EXPECT_EQ(time.minutes, minutes);
    EXPECT_EQ(time.seconds, seconds);
    EXPECT_EQ(time.milliseconds, milliseconds);
}

TEST(ClockTime, TicksBecomeHoursMinutesSecondsMilliseconds)
{
    expect_time(ticks_to_clock_time(0), 0, 0, 0, 0);
    expect_time(ticks_to_clock_time(89), 0, 0, 0, 0);
    expect_time(ticks_to_clock_time(90), 0, 0, 0, 1);
    expect_time(ticks_to_clock_time(90000LL * 3661 + 45000), 1, 1, 1, 500);
    expect_time(ticks_to_clock_time(-1), 0, 0, 0, 0);
    expect_time(ticks_to_clock_time(INT64_MIN), 0, 0, 0, 0);
}

TEST(ClockTime, LongRecordingsKeepCounting)
{
    // 2^31 ticks is 6:37:40.929; beyond it a 32-bit count would go negative or start again.
    expect_time(ticks_to_clock_time(int64_t{1} << 31), 6, 37, 40, 929);
    expect_time(ticks_to_clock_time(90000LL * (7 * 3600 + 2)), 7, 0, 2, 0);
    expect_time(ticks_to_clock_time((int64_t{1} << 32) + 90000), 13, 15, 22, 858);
    expect_time(ticks_to_clock_time(90000LL * (26 * 3600 + 30 * 60) + 90 * 999), 26, 30, 0, 999);
}

TEST(ClockTracker, FirstValueIsTheOriginAndLaterOnesCountFromIt)
{
    ClockTracker clock;
    EXPECT_TRUE(update_clock_value(clock, 1000000));
    EXPECT_EQ(clock.origin, 1000000u);
    EXPECT_EQ(clock.elapsed, 0u);
    EXPECT_FALSE(clock.first);
    // Under a second since the origin: not worth reporting.
    EXPECT_FALSE(update_clock_value(clock, 1000000 + 45000));
    EXPECT_EQ(clock.elapsed, 45000u);
    EXPECT_EQ(clock.current_ms, 500);
    EXPECT_TRUE(update_clock_value(clock, 1000000 + 90000 * 61));
    EXPECT_EQ(clock.current_seconds, 61);
    EXPECT_EQ(clock.current_time.minutes, 1);
    EXPECT_EQ(clock.previous_elapsed, 45000u);
}

TEST(ClockTracker, ZeroLeavesTheOriginUnset)
{
    ClockTracker clock;
    EXPECT_TRUE(update_clock_value(clock, 0));
    EXPECT_EQ(clock.origin, 0u);
    EXPECT_FALSE(update_clock_value(clock, 500));
    EXPECT_EQ(clock.origin, 500u);
    EXPECT_EQ(clock.elapsed, 0u);
}

TEST(ClockTracker, BackwardsByLessThanASecondRestartsMoreIsAWrap)
{
    ClockTracker clock;
    (void)update_clock_value(clock, 10000000);
    (void)update_clock_value(clock, 10000000 + 900000);
    EXPECT_EQ(clock.elapsed, 900000u);
    (void)update_clock_value(clock, 10000000 - 89999);  // less than one second below the origin
    EXPECT_EQ(clock.origin, 10000000u - 89999);
    EXPECT_EQ(clock.elapsed, 0u);

    ClockTracker wrapped;
    (void)update_clock_value(wrapped, 10000000);
    (void)update_clock_value(wrapped, 10000000 - 90000);  // one second or more: a wrap
    EXPECT_EQ(wrapped.origin, 10000000u);
    EXPECT_EQ(wrapped.elapsed, k2To33 - 90000);
}

TEST(ClockTracker, TicksSinceFirstCountBackAMinuteAndForwardAcrossTheWrap)
{
    // Unlike the elapsed time, which takes more than a second back for a wrap (above).
    struct Case {
        uint64_t first;
        uint64_t value;
        int64_t ticks;
    };
    const Case cases[] = {
        {10000000, 10000000 + 900000, 900000},
        {10000000, 10000000 - 135000, -135000},                     // sound 1.5 s behind
        {10000000, 10000000 - 60 * 90000 + 1, -(60 * 90000 - 1)},  // still before the first
        {10000000, 10000000 - 60 * 90000, static_cast<int64_t>(k2To33 - 60 * 90000)},
        {k2To33 - 16, 16, 32},  // after a wrap of the counter
        {16, k2To33 - 16, -32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        ClockTracker clock;
        (void)update_clock_value(clock, c.first);
        (void)update_clock_value(clock, c.value);
        EXPECT_EQ(ticks_since_first(clock), c.ticks);
        EXPECT_EQ(ticks_since_first(clock, true), 0);
    }
    EXPECT_EQ(ticks_since_first(ClockTracker{}), 0);  // no value yet
}

TEST(ClockTracker, WrapOfTheThirtyThreeBitCounter)
{
    ClockTracker clock;
    (void)update_clock_value(clock, k2To33 - 16);
    (void)update_clock_value(clock, 16);
    EXPECT_EQ(clock.elapsed, 32u);
}

TEST(ClockTracker, PtsDtsAndPcrPreconditions)
{
    PesHeaderInfo pes;
    const Bytes header = test::pes_header(0xE0, 0, 0x100000005, 0x100000001);
    ASSERT_TRUE(parse_pes_header(pes, header.data(), header.size()));
    ClockTracker pts;
    ClockTracker dts;
    EXPECT_TRUE(update_pts_clock(pts, pes));
    EXPECT_EQ(pts.origin, 0x100000005u);  // bit 32 of the PTS kept
    EXPECT_TRUE(update_dts_clock(dts, pes));
    EXPECT_EQ(dts.origin, 0x100000001u);

    ClockTracker untouched;
    PesHeaderInfo pts_only = pes;
    pts_only.pts_dts_flags = 2;
    EXPECT_FALSE(update_dts_clock(untouched, pts_only));
    PesHeaderInfo no_prefix = pes;
    no_prefix.packet_start_code_prefix = 0;
    EXPECT_FALSE(update_pts_clock(untouched, no_prefix));
    AdaptationFieldInfo adaptation;
    adaptation.pcr_base = 77;
    EXPECT_FALSE(update_pcr_clock(untouched, adaptation));
    EXPECT_TRUE(untouched.first);
    EXPECT_EQ(untouched.origin, 0u);
}

TEST(ClockTracker, RepeatedPtsWithoutUnitStartLeavesElapsedTimeAlone)
{
    StreamContext context;
    const Bytes first = test::make_packet(0x130, 0, test::pes_header(0xBD, 100, 900000),
                                          test::PacketOptions{true, false, false, 0, {}, true});
    const Bytes second = test::make_packet(0x130, 1, test::pes_header(0xBD, 100, 900000 + 180000),
                                           test::PacketOptions{true, false, false, 0, {}, true});
    const Bytes continuation = test::make_packet(0x130, 2, {1, 2, 3});
    for (const Bytes* packet : {&first, &second, &continuation, &continuation}) {
        PidState* state = parse_packet(context, packet->data());
        ASSERT_NE(state, nullptr);
        update_stream_clocks(context, *state);
    }
    EXPECT_EQ(context.pts_clock.elapsed, 180000u);
    EXPECT_EQ(context.pts_clock.previous_elapsed, 180000u);
    EXPECT_FALSE(context.wall_clock.first);  // the first PTS started the wall clock
}

TEST(ClockTracker, EachPacketFeedsThePtsOfItsOwnPidsLastPesStart)
{
    // Video starts a PES at 900000, audio one at 909000; the next video packet, a continuation,
    // feeds the video PTS again and the time steps back to it. Display and the caption side of
    // merge take PES starts only: there the continuation leaves the audio time.
    const test::PacketOptions start{true, false, false, 0, {}, true};
    const Bytes video = test::make_packet(0x100, 0, test::pes_header(0xE0, 100, 900000), start);
    const Bytes audio = test::make_packet(0x110, 0, test::pes_header(0xC0, 100, 909000), start);
    const Bytes video_more = test::make_packet(0x100, 1, {1, 2, 3});
    for (const bool pes_start_only : {false, true}) {
        SCOPED_TRACE(pes_start_only);
        StreamContext context;
        ClockUpdates last;
        for (const Bytes* packet : {&video, &audio, &video_more}) {
            PidState* state = parse_packet(context, packet->data());
            ASSERT_NE(state, nullptr);
            last = update_stream_clocks(context, *state, pes_start_only);
        }
        EXPECT_EQ(context.pts_clock.elapsed, pes_start_only ? 9000u : 0u);
        EXPECT_EQ(context.pts_clock.previous_elapsed, pes_start_only ? 0u : 9000u);
        EXPECT_FALSE(last.pts);  // under one second: not reported
        EXPECT_FALSE(last.pcr);
    }
}

void expect_same_tracker(const ClockTracker& a, const ClockTracker& b)
{
    EXPECT_EQ(a.first, b.first);
    EXPECT_EQ(a.origin, b.origin);
    EXPECT_EQ(a.elapsed, b.elapsed);
    EXPECT_EQ(a.previous_elapsed, b.previous_elapsed);
    EXPECT_EQ(a.first_value, b.first_value);
    EXPECT_EQ(a.value, b.value);
    EXPECT_EQ(a.previous_value, b.previous_value);
    EXPECT_EQ(a.current_seconds, b.current_seconds);
    EXPECT_EQ(a.current_ms, b.current_ms);
}

TEST(ClockTracker, TimeStampsFedAgainAnswerAsIfTakenAgain)
{
    // update_stream_clocks answers a packet that feeds its PID's PES start again from what the
    // clocks hold, without taking the values: clocks and answers must be those of taking them
    // (feed_stream_clocks) for every packet, through interleaved PIDs, a slight step back and a
    // wrap of the 33-bit counter.
    const test::PacketOptions start{true, false, false, 0, {}, true};
    const uint64_t t = k2To33 - 90000 * 3;
    std::vector<Bytes> packets;
    uint8_t video_counter = 0;
    uint8_t audio_counter = 0;
    const auto video = [&](std::optional<uint64_t> pts = {}, std::optional<uint64_t> dts = {}) {
        packets.push_back(pts ? test::make_packet(0x100, video_counter++ & 0x0F,
                                                  test::pes_header(0xE0, 0, pts, dts), start)
                              : test::make_packet(0x100, video_counter++ & 0x0F, {1, 2, 3}));
    };
    const auto audio = [&](std::optional<uint64_t> pts = {}) {
        packets.push_back(pts ? test::make_packet(0x110, audio_counter++ & 0x0F,
                                                  test::pes_header(0xC0, 100, pts), start)
                              : test::make_packet(0x110, audio_counter++ & 0x0F, {4, 5, 6}));
    };
    for (int second = 0; second < 6; ++second) {
        const uint64_t at = (t + uint64_t(second) * 90000) % k2To33;
        video(at + 3003, at);
        for (int i = 0; i < 4; ++i) {
            video();
        }
        audio(second == 3 ? at - 900 : at + 100);  // a slight step back once
        audio();
        video();
        video();
        packets.push_back(test::make_packet(
            0x100, video_counter++ & 0x0F, {},
            test::PacketOptions{false, false, false, 0, test::pcr_adaptation(at + 50), true}));
        video();
    }
    for (const bool pes_start_only : {false, true}) {
        SCOPED_TRACE(pes_start_only);
        StreamContext answered;
        StreamContext taken;
        for (size_t i = 0; i < packets.size(); ++i) {
            SCOPED_TRACE("packet " + std::to_string(i));
            PidState* a = parse_packet(answered, packets[i].data());
            PidState* b = parse_packet(taken, packets[i].data());
            ASSERT_NE(a, nullptr);
            ASSERT_NE(b, nullptr);
            const ClockUpdates got = update_stream_clocks(answered, *a, pes_start_only);
            const ClockUpdates want = has_clock_values(*b, pes_start_only)
                                          ? feed_stream_clocks(taken, *b, pes_start_only)
                                          : ClockUpdates{};
            EXPECT_EQ(got.pcr, want.pcr);
            EXPECT_EQ(got.pts, want.pts);
            EXPECT_EQ(got.dts, want.dts);
            expect_same_tracker(answered.pcr_clock, taken.pcr_clock);
            expect_same_tracker(answered.pts_clock, taken.pts_clock);
            expect_same_tracker(answered.dts_clock, taken.dts_clock);
            EXPECT_EQ(answered.wall_clock.first, taken.wall_clock.first);
        }
    }
}

TEST(ClockSelection, PreferenceOrderAndFallback)
{
    StreamContext context;
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pcr_clock);
    EXPECT_EQ(&select_clock(context, ClockPreference::pts), &context.pts_clock);
    EXPECT_EQ(&select_clock(context, ClockPreference::dts), &context.dts_clock);

    // Only a PTS runs (no PCR in the stream): every preference lands on it.
    (void)update_clock_value(context.pts_clock, 1000);
    (void)update_clock_value(context.pts_clock, 5000);
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pts_clock);
    EXPECT_EQ(&select_clock(context, ClockPreference::dts), &context.pts_clock);

    // An origin without elapsed time does not count as running.
    (void)update_clock_value(context.pcr_clock, 1000);
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pts_clock);
    (void)update_clock_value(context.pcr_clock, 2000);
    EXPECT_EQ(&select_clock(context, ClockPreference::pcr), &context.pcr_clock);
    EXPECT_EQ(&select_clock(context, ClockPreference::pts), &context.pts_clock);
    (void)update_clock_value(context.dts_clock, 1000);
    (void)update_clock_value(context.dts_clock, 3000);
    EXPECT_EQ(&select_clock(context, ClockPreference::dts), &context.dts_clock);
    EXPECT_EQ(&select_clock(context, ClockPreference::pts), &context.pts_clock);
}

TEST(WallClock, CountsFromTheFirstUpdateAcrossTheTickWrap)
{
    ClockTracker clock;
    update_wall_clock_at(clock, 0xFFFFFF00u);
    EXPECT_EQ(clock.start_tick, 0xFFFFFF00u);
    EXPECT_EQ(clock.current_seconds, 0);
    update_wall_clock_at(clock, 0xFFFFFF00u + 3723456u);  // wraps past 2^32
    EXPECT_EQ(clock.current_time.hours, 1);
    EXPECT_EQ(clock.current_time.minutes, 2);
    EXPECT_EQ(clock.current_time.seconds, 3);
    EXPECT_EQ(clock.current_ms, 456);
    EXPECT_EQ(clock.current_seconds, 3723);
}

}  // namespace
}  // namespace qv
