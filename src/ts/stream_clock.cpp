// PCR, PTS, DTS and wall-clock trackers.
#include "ts/stream_clock.h"

#include <cstdint>
#include <limits>

#include "platform/clock.h"
#include "ts/packet_header.h"
#include "ts/stream_context.h"
#include "ts/ts_packet.h"

namespace qv {
namespace {

/// How far a time stamp may lie before the first one and still count as before it. Pictures
/// go out well ahead of their time, sound and captions less so: at the start of a stream their
/// stamps can trail the first picture's by a few seconds. Only a count beyond 26.5 hours less
/// this would be taken for one before the first.
constexpr uint64_t kLongestLagBehindFirst = 60 * kClockTicksPerSecond;

void set_current_time(ClockTracker& clock, const ClockTime& time)
{
    clock.current_time = time;
    clock.current_ms = static_cast<uint16_t>(time.milliseconds);
    clock.current_seconds =
        int64_t{time.hours} * 3600 + int64_t{time.minutes} * 60 + time.seconds;
}

bool is_running(const ClockTracker& clock) { return clock.origin != 0 && clock.elapsed != 0; }

}  // namespace

ClockTime ticks_to_clock_time(int64_t ticks)
{
    ClockTime time;
    if (ticks < 0) {
        return time;
    }
    // The whole count is used: recordings run longer than the 2^31 ticks (6 h 37 min) that a
    // 32-bit count would hold.
    const int64_t total_seconds = ticks / int64_t{kClockTicksPerSecond};
    const int64_t total_minutes = total_seconds / 60;
    const int64_t hours = total_minutes / 60;
    time.hours = hours > std::numeric_limits<int32_t>::max()
                     ? std::numeric_limits<int32_t>::max()
                     : static_cast<int32_t>(hours);
    time.minutes = static_cast<int32_t>(total_minutes - hours * 60);
    time.seconds = static_cast<int32_t>(total_seconds - total_minutes * 60);
    time.milliseconds =
        static_cast<int32_t>((ticks - total_seconds * int64_t{kClockTicksPerSecond}) / 90);
    return time;
}

bool update_clock_value(ClockTracker& clock, uint64_t value)
{
    value &= kClockMask;
    // Every packet of a PID feeds the PTS of its last PES start again. The same value fed twice
    // in a row changes nothing more: the result alone is given, without the bookkeeping.
    if (repeats_last_value(clock, value)) {
        return clock.current_seconds != 0;
    }
    clock.previous_elapsed = clock.elapsed;
    clock.previous_value = clock.value;
    clock.value = value;
    if (clock.origin == 0) {
        // A value of exactly 0 leaves the origin unset: the next value becomes the origin.
        clock.origin = value;
        clock.elapsed = 0;
        if (clock.first_value == 0) {
            clock.first_value = value;
        }
    } else if (value >= clock.origin) {
        clock.elapsed = value - clock.origin;
    } else if (clock.origin - value < kClockTicksPerSecond) {
        // Slightly backwards (a reordered or restarted clock): start again from here.
        clock.origin = value;
        clock.elapsed = 0;
    } else {
        // Far backwards: the 33-bit counter wrapped.
        clock.elapsed = value + kClockModulus - clock.origin;
    }
    // The same PTS is fed again by every packet of its PID until the next unit start: the
    // divisions are skipped when the elapsed time did not move.
    if (clock.elapsed != clock.previous_elapsed || clock.first) {
        set_current_time(clock, ticks_to_clock_time(static_cast<int64_t>(clock.elapsed)));
    }
    if (clock.first) {
        clock.first = false;
        return true;
    }
    return clock.current_seconds != 0;
}

bool update_pcr_clock(ClockTracker& clock, const AdaptationFieldInfo& adaptation)
{
    if (!adaptation.pcr_flag) {
        return false;
    }
    return update_clock_value(clock, adaptation.pcr_base);
}

bool update_pts_clock(ClockTracker& clock, const PesHeaderInfo& pes)
{
    if (pes.packet_start_code_prefix != 1 || !pes.has_optional_header ||
        (pes.pts_dts_flags & 0x02) == 0) {
        return false;
    }
    return update_clock_value(clock, pes.pts);
}

bool update_dts_clock(ClockTracker& clock, const PesHeaderInfo& pes)
{
    if (pes.packet_start_code_prefix != 1 || !pes.has_optional_header ||
        pes.pts_dts_flags != 0x03) {  // a DTS is read only beside a PTS
        return false;
    }
    return update_clock_value(clock, pes.dts);
}

int64_t ticks_since_first(const ClockTracker& clock, bool previous)
{
    const uint64_t value = previous ? clock.previous_value : clock.value;
    if (clock.first_value == 0) {
        return 0;  // no value yet (a 33-bit value of 0 later on, after a wrap, is a real time)
    }
    const uint64_t before_first = (clock.first_value - value) & kClockMask;
    if (before_first != 0 && before_first < kLongestLagBehindFirst) {
        return -static_cast<int64_t>(before_first);
    }
    return static_cast<int64_t>((value - clock.first_value) & kClockMask);
}

void update_wall_clock(ClockTracker& clock) { update_wall_clock_at(clock, platform::tick_count_ms()); }

void update_wall_clock_at(ClockTracker& clock, uint32_t now_ms)
{
    if (clock.first) {
        clock.start_tick = now_ms;
        clock.first = false;
    }
    // Unsigned difference: correct across the 49.7-day wrap of the tick count.
    const uint32_t elapsed_ms = now_ms - clock.start_tick;
    clock.previous_elapsed = clock.elapsed;
    if (elapsed_ms == clock.elapsed && clock.current_ms == elapsed_ms % 1000) {
        return;  // same millisecond as the last update
    }
    clock.elapsed = elapsed_ms;
    const uint32_t total_seconds = elapsed_ms / 1000;
    ClockTime time;
    time.hours = static_cast<int32_t>(total_seconds / 3600);
    time.minutes = static_cast<int32_t>((total_seconds % 3600) / 60);
    time.seconds = static_cast<int32_t>(total_seconds % 60);
    set_current_time(clock, time);
    clock.current_ms = static_cast<uint16_t>(elapsed_ms % 1000);
}

const ClockTracker& select_clock(const StreamContext& context, ClockPreference preference)
{
    const ClockTracker* order[3] = {&context.pcr_clock, &context.pts_clock, &context.dts_clock};
    if (preference == ClockPreference::pts) {
        order[0] = &context.pts_clock;
        order[1] = &context.dts_clock;
        order[2] = &context.pcr_clock;
    } else if (preference == ClockPreference::dts) {
        order[0] = &context.dts_clock;
        order[1] = &context.pts_clock;
        order[2] = &context.pcr_clock;
    }
    for (const ClockTracker* clock : order) {
        if (is_running(*clock)) {
            return *clock;
        }
    }
    return *order[0];
}

}  // namespace qv
