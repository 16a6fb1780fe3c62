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
    /// Counts the feeds of time stamps to the PTS and DTS clocks (the only way they change), so
    /// that a PID whose time stamps were found to repeat the clocks' values knows they still do.
    uint64_t clock_feeds = 1;
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

/// parse_packet for a PID without state yet, or a packet whose header needs more than its four
/// bytes (transport error, unit start, adaptation field).
PidState* parse_packet_fully(StreamContext& context, const uint8_t* packet);

/// Finds (or creates) the PidState of the packet's PID in `context` and parses the packet into it.
/// Null for a missing packet, a bad sync byte, or a transport error; a transport error also
/// removes the PID's state (its counters and any partial section are lost). Inline, as the pump
/// parses every packet: most need nothing beyond their four header bytes.
inline PidState* parse_packet(StreamContext& context, const uint8_t* packet)
{
    if (packet == nullptr || packet[0] != kSyncByte) {
        return nullptr;
    }
    PidState* state = context.pid_index[packet_pid(packet)];
    const uint8_t flags = packet[1];
    const uint8_t control = packet[3];
    if (state == nullptr || (flags & 0xC0) != 0 || (control & 0x20) != 0) {
        return parse_packet_fully(context, packet);
    }
    take_fixed_header(*state, flags, control);
    state->adaptation_parsed = false;
    state->payload_offset = kPacketHeaderSize;
    return state;
}

/// The same for the context `id` of a list; `context` receives it. Null when the id is absent.
PidState* parse_packet(StreamContextList& contexts, int32_t id, const uint8_t* packet,
                       StreamContext*& context);

/// check_continuity for a PID whose counters are examined.
bool count_continuity(PidState& state);

/// Counts a break of the continuity_counter sequence of the current packet; true when this
/// packet broke it. PCR PIDs and null packets are not examined.
inline bool check_continuity(StreamContext& context, PidState& state)
{
    // A PCR PID may carry adaptation-only packets whose counter legitimately stands still, and
    // the counter of null packets is undefined (ISO/IEC 13818-1 2.4.3.3). The first PCR PID
    // (most often the video PID, which carries most packets) is compared before the whole set.
    if (state.pid == kNullPid || state.pid == context.pcr_pid_set[0] ||
        is_pcr_pid(context, state.pid)) {
        return false;
    }
    return count_continuity(state);
}

/// Which clock updates of one packet reported true (a first value, or a time of a second or more).
struct ClockUpdates {
    bool pcr = false;
    bool pts = false;
    bool dts = false;
};

/// True when update_stream_clocks has a value to feed for this packet: a PCR, or the time
/// stamps of its PID's last PES header (at a PES start only, with `pes_start_only`).
inline bool has_clock_values(const PidState& state, bool pes_start_only)
{
    return (state.adaptation_parsed && state.adaptation.pcr_flag) ||
           ((!pes_start_only || state.unit_start) && state.pes_parsed &&
            (state.pes.pts_dts_flags & 0x02) != 0);
}

/// update_stream_clocks for a packet with values to feed, out of line.
ClockUpdates feed_stream_clocks(StreamContext& context, const PidState& state, bool pes_start_only);

/// Feeds the packet's PCR, and the PTS and DTS of its PID's last PES header, to the context's
/// clocks in the order every worker uses; the wall clock follows a PTS update that reports true.
/// A packet without unit start feeds the PTS of its PID's last PES start again (the time does
/// not move), unless `pes_start_only` asks for PES starts alone.
inline ClockUpdates update_stream_clocks(StreamContext& context, PidState& state,
                                         bool pes_start_only = false)
{
    if (state.adaptation_parsed || state.unit_start) {
        if (!has_clock_values(state, pes_start_only)) {
            return {};
        }
        return feed_stream_clocks(context, state, pes_start_only);
    }
    // Neither PCR nor PES start: at most the time stamps of the PID's last PES start, fed again.
    const PesHeaderInfo& pes = state.pes;
    if (pes_start_only || !state.pes_parsed || (pes.pts_dts_flags & 0x02) == 0) {
        return {};
    }
    ClockUpdates updates;
    if (state.steady_feed == context.clock_feeds) {
        // No time stamp was fed since these were found to repeat the clocks' values.
        updates.pts = state.steady_pts;
        updates.dts = state.steady_dts;
        return updates;
    }
    if (pes.packet_start_code_prefix == 1 && pes.has_optional_header &&
        repeats_last_value(context.pts_clock, pes.pts) &&
        (pes.pts_dts_flags != 0x03 || repeats_last_value(context.dts_clock, pes.dts))) {
        // Most packets of a PES stream: the clocks hold these values already, so nothing moves
        // (the wall clock neither) and only the answer is given.
        updates.pts = context.pts_clock.current_seconds != 0;
        updates.dts = pes.pts_dts_flags == 0x03 && context.dts_clock.current_seconds != 0;
        state.steady_feed = context.clock_feeds;
        state.steady_pts = updates.pts;
        state.steady_dts = updates.dts;
        return updates;
    }
    return feed_stream_clocks(context, state, pes_start_only);
}

}  // namespace qv
