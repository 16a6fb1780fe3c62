#include "ts/wraparound.h"

#include "platform/clock.h"
#include "ts/stream_clock.h"
#include "ts/ts_packet.h"

namespace qv {

void update_wraparound_prediction(StreamContext& context, int64_t current_seconds)
{
    if (context.wrap_time > 0 && context.wrap_time < current_seconds) {
        context.wrap_time = 0;
        context.wrap_local_time = platform::CalendarTime{};
        context.wrap_report_pending = false;
    }
    if (context.wrap_time != 0) {
        return;
    }
    const ClockTracker& clock = select_clock(context, ClockPreference::pcr);
    if (clock.origin == 0) {
        return;
    }
    // The clock's present 33-bit value; once it has wrapped since its origin, origin + elapsed
    // exceeds 33 bits and the remainder counts towards the next wrap-around.
    uint64_t value = (clock.origin + clock.elapsed) & kClockMask;
    uint64_t seconds_left = (kClockMask - value) / kClockTicksPerSecond;
    context.wrap_time = current_seconds + static_cast<int64_t>(seconds_left);
    platform::CalendarTime local;
    if (platform::unix_to_local(context.wrap_time, local)) {
        context.wrap_local_time = local;
    }
    context.wrap_report_pending = true;
}

}  // namespace qv
