#pragma once
// The state of one input stream of a worker: its PIDs in order of first appearance (with an index
// by PID for the per-packet lookup), the PCR PIDs registered from PMTs, the tables found in the
// stream and its four clocks.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "ts/caption_entry.h"
#include "platform/clock.h"
#include "ts/packet_header.h"
#include "ts/stream_clock.h"
#include "ts/stream_tables.h"

namespace qv {

inline constexpr size_t kPcrPidSlots = 8;

struct StreamContext {
    StreamContext() = default;
    StreamContext(const StreamContext&) = delete;  // the PID index points into this context
    StreamContext& operator=(const StreamContext&) = delete;

    int32_t id = 0;
    /// PCR PIDs registered from PMTs; kNoPid marks a free slot.
    std::array<uint16_t, kPcrPidSlots> pcr_pid_set = {kNoPid, kNoPid, kNoPid, kNoPid,
                                                      kNoPid, kNoPid, kNoPid, kNoPid};
    int64_t wrap_time = 0;  ///< predicted second (since 1970, UTC) of the next PCR wrap; 0 none
    platform::CalendarTime wrap_local_time;  ///< the same instant, local
    bool wrap_report_pending = false;        ///< a new prediction waits to be reported

    /// One state per PID seen, in order of first appearance (the drop report prints this order).
    std::vector<std::unique_ptr<PidState>> pid_states;
    /// Non-owning index into `pid_states` by PID.
    std::array<PidState*, kPidCount> pid_index = {};

    /// Programs of the last valid PAT, in section order.
    std::vector<ProgramEntry> programs;
    /// Caption PIDs found in PMTs, in order of discovery.
    std::vector<CaptionEntry> captions;
    ServiceTable services;      ///< from the SDT
    EventInfo events;           ///< from EIT present/following
    StreamTimeInfo stream_time;  ///< from the TOT or TDT

    ClockTracker pcr_clock;
    ClockTracker pts_clock;
    ClockTracker dts_clock;
    ClockTracker wall_clock;
};

/// The context with `id`, appended when absent.
StreamContext* get_stream_context(StreamContextList& contexts, int32_t id);
/// The context with `id`, or null.
StreamContext* find_stream_context(StreamContextList& contexts, int32_t id);

/// The state of `pid`, or null when no packet of it has been seen.
inline PidState* find_pid_state(StreamContext& context, uint16_t pid)
{
    return pid < kPidCount ? context.pid_index[pid] : nullptr;
}
/// The state of `pid`, appended at the tail when absent.
PidState& get_pid_state(StreamContext& context, uint16_t pid);
/// Forgets the state of `pid` (a later packet recreates it with fresh counters).
void remove_pid_state(StreamContext& context, uint16_t pid);

/// True when `pid` is one of the registered PCR PIDs.
bool is_pcr_pid(const StreamContext& context, uint16_t pid);

/// Which clock updates of one packet reported true (a first value, or a time of a second or more).
struct ClockUpdates {
    bool pcr = false;
    bool pts = false;
    bool dts = false;
};

/// Feeds the packet's PCR, and the PTS and DTS of its PID's last PES header, to the context's
/// clocks in the order every worker uses; the wall clock follows a PTS update that reports true.
/// A packet without unit start feeds the PTS of its PID's last PES start again (the time does
/// not move), unless `pes_start_only` asks for PES starts alone.
ClockUpdates update_stream_clocks(StreamContext& context, const PidState& state,
                                  bool pes_start_only = false);

}  // namespace qv
