#pragma once
// Stream clocks: trackers of the PCR, PTS and DTS (33-bit 90 kHz values, ISO/IEC 13818-1
// 2.4.2.2 and 2.4.3.7) and of the wall clock, each counting elapsed time from its own origin.
#include <cstdint>

namespace qv {

struct AdaptationFieldInfo;
struct PesHeaderInfo;
struct StreamContext;

/// Hours, minutes, seconds and milliseconds of an elapsed time.
struct ClockTime {
    int32_t hours = 0;  ///< saturates at INT32_MAX for absurd inputs
    int32_t minutes = 0;
    int32_t seconds = 0;
    int32_t milliseconds = 0;
};

/// Elapsed time of one clock since its origin.
struct ClockTracker {
    bool first = true;          ///< no value taken yet
    uint64_t origin = 0;        ///< first 90 kHz value taken; 0 = not set
    uint64_t elapsed = 0;       ///< 90 kHz ticks since origin (milliseconds for the wall clock)
    uint64_t previous_elapsed = 0;  ///< `elapsed` before the latest update
    uint64_t first_value = 0;   ///< 90 kHz trackers: the first value taken; never moves
    uint64_t value = 0;         ///< 90 kHz trackers: the latest value taken
    uint64_t previous_value = 0;  ///< 90 kHz trackers: the value before it
    ClockTime current_time;     ///< of `elapsed`; the wall clock leaves milliseconds 0
    int64_t current_seconds = 0;  ///< hours * 3600 + minutes * 60 + seconds
    uint16_t current_ms = 0;
    uint32_t start_tick = 0;    ///< wall clock only: tick count (ms) of its first update
};

/// True when `value` is both the latest value the tracker took and the one before it, with the
/// elapsed time unchanged: taking it again changes nothing, update_clock_value only answers.
inline bool repeats_last_value(const ClockTracker& clock, uint64_t value)
{
    return value == clock.value && value == clock.previous_value &&
           clock.elapsed == clock.previous_elapsed && !clock.first;
}

/// Which clock the caller prefers when several run.
enum class ClockPreference { pcr = 0, pts = 1, dts = 2 };

/// 90 kHz ticks as hours, minutes, seconds and milliseconds; a negative count gives zeros.
ClockTime ticks_to_clock_time(int64_t ticks);

/// Takes a PCR base when PCR_flag is set. True for the first value taken, afterwards while the
/// elapsed time is at least one second.
bool update_pcr_clock(ClockTracker& clock, const AdaptationFieldInfo& adaptation);
/// Takes the PTS of a PES header that carries one (same result rule).
bool update_pts_clock(ClockTracker& clock, const PesHeaderInfo& pes);
/// Takes the DTS of a PES header that carries one (same result rule).
bool update_dts_clock(ClockTracker& clock, const PesHeaderInfo& pes);
/// Takes a raw 33-bit value; the common step of the three updates above.
bool update_clock_value(ClockTracker& clock, uint64_t value);

/// Ticks from the first value the tracker took to its latest one (`previous`: to the one before).
/// Unlike `elapsed` this never counts from an origin that a slightly earlier value moved back:
/// a value up to a minute before the first counts negative (a B-frame's PTS after the
/// I-frame's, sound or a caption that trails the first picture), one further back as a
/// wrap-around of the 33-bit counter.
int64_t ticks_since_first(const ClockTracker& clock, bool previous = false);

/// Advances the wall clock to the system tick count.
void update_wall_clock(ClockTracker& clock);
/// Advances the wall clock to `now_ms` (a tick count in milliseconds, wrapping at 2^32).
void update_wall_clock_at(ClockTracker& clock, uint32_t now_ms);

/// The first running clock (origin set, elapsed non-zero) in the order of the preference:
/// PCR, PTS, DTS; PTS, DTS, PCR; DTS, PTS, PCR. Falls back to the preferred one.
const ClockTracker& select_clock(const StreamContext& context, ClockPreference preference);

}  // namespace qv
