// Stream contexts and their PID states.
#include "ts/stream_context.h"

#include <algorithm>
#include <cstring>

namespace qv {

StreamContext* find_stream_context(StreamContextList& contexts, int32_t id)
{
    for (auto& context : contexts) {
        if (context->id == id) {
            return context.get();
        }
    }
    return nullptr;
}

StreamContext* get_stream_context(StreamContextList& contexts, int32_t id)
{
    if (StreamContext* found = find_stream_context(contexts, id)) {
        return found;
    }
    contexts.push_back(std::make_unique<StreamContext>());
    contexts.back()->id = id;
    return contexts.back().get();
}

PidState& get_pid_state(StreamContext& context, uint16_t pid)
{
    pid &= kPidCount - 1;
    if (PidState* state = context.pid_index[pid]) {
        return *state;
    }
    context.pid_states.push_back(std::make_unique<PidState>());
    PidState* state = context.pid_states.back().get();
    state->pid = pid;
    context.pid_index[pid] = state;
    return *state;
}

void remove_pid_state(StreamContext& context, uint16_t pid)
{
    if (pid >= kPidCount || context.pid_index[pid] == nullptr) {
        return;
    }
    context.pid_index[pid] = nullptr;
    auto& states = context.pid_states;
    states.erase(std::remove_if(states.begin(), states.end(),
                                [pid](const auto& state) { return state->pid == pid; }),
                 states.end());
}

bool is_pcr_pid(const StreamContext& context, uint16_t pid)
{
    // Asked for every packet: the eight 16-bit slots are compared four at a time, without
    // branches; a lane of (slots ^ pid) that is zero marks a match.
    static_assert(kPcrPidSlots == 8);
    uint64_t words[2];
    std::memcpy(words, context.pcr_pid_set.data(), sizeof words);
    const uint64_t lanes = uint64_t{pid} * 0x0001000100010001u;
    constexpr uint64_t kLow = 0x0001000100010001u;
    constexpr uint64_t kHigh = 0x8000800080008000u;
    const uint64_t a = words[0] ^ lanes;
    const uint64_t b = words[1] ^ lanes;
    return (((a - kLow) & ~a) | ((b - kLow) & ~b)) & kHigh;
}

ClockUpdates feed_stream_clocks(StreamContext& context, const PidState& state, bool pes_start_only)
{
    ClockUpdates updates;
    const bool has_pcr = state.adaptation_parsed && state.adaptation.pcr_flag;
    if (has_pcr) {
        updates.pcr = update_pcr_clock(context.pcr_clock, state.adaptation);
    }
    if (!state.pes_parsed || (state.pes.pts_dts_flags & 0x02) == 0 ||
        (pes_start_only && !state.unit_start)) {
        return updates;
    }
    ++context.clock_feeds;
    ClockTracker& pts = context.pts_clock;
    updates.pts = update_pts_clock(pts, state.pes);
    // The wall clock paces -sync against the PTS: a PTS fed again, which moves nothing, needs
    // no tick count (the pump would otherwise read the clock on nearly every packet).
    if (updates.pts && (state.unit_start || pts.elapsed != pts.previous_elapsed)) {
        update_wall_clock(context.wall_clock);
    }
    if (state.pes.pts_dts_flags == 0x03) {
        updates.dts = update_dts_clock(context.dts_clock, state.pes);
    }
    return updates;
}

}  // namespace qv
