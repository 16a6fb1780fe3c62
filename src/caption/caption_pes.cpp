// Reassembly of a caption PES from the TS packets of its PID, and the hand-over of the completed
// PES to merge mode with its time stamps moved onto this stream's clocks.
#include "caption/caption_pes.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "base/byte_buffer.h"
#include "ts/packet_header.h"
#include "ts/packetizer.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

void discard(PidState& state)
{
    std::vector<uint8_t>().swap(state.section_buffer);
    state.section_remaining = 0;
}

/// Starts collecting at a unit-start packet; false when it does not begin a PES.
bool start_pes(PidState& state, const uint8_t* packet)
{
    const size_t start = state.payload_offset;
    if (!has_payload(state) || start + 6 > kPacketSize || packet[start] != 0x00 ||
        packet[start + 1] != 0x00 || packet[start + 2] != 0x01) {
        return false;
    }
    // The total counts from the first byte of the packet: the buffer keeps the starting packet's
    // TS header and adaptation field in front of the PES.
    const uint32_t pes_packet_length =
        static_cast<uint32_t>(packet[start + 4] << 8 | packet[start + 5]);
    const uint32_t total = pes_packet_length + static_cast<uint32_t>(start) + 6;
    const size_t take = std::min<size_t>(total, kPacketSize);
    state.section_buffer.assign(packet, packet + take);
    state.section_remaining = total - static_cast<uint32_t>(take);
    return true;
}

/// Appends a continuation packet; false when the partial PES had to be dropped.
bool continue_pes(PidState& state, const uint8_t* packet)
{
    if (state.dropped_last || !has_payload(state) || state.section_remaining == 0) {
        return false;
    }
    const size_t take =
        std::min<size_t>({state.section_remaining, kPacketPayloadSize, payload_length(state)});
    const uint8_t* payload = packet + state.payload_offset;
    state.section_buffer.insert(state.section_buffer.end(), payload, payload + take);
    state.section_remaining -= static_cast<uint32_t>(take);
    return true;
}

/// Copies the completed PES into the merge sink with PCR, PTS and DTS set to the elapsed ticks
/// of this stream's clocks (the writers leave absent fields alone).
void hand_over(const StreamContext& context, std::vector<uint8_t>& pes, ByteBuffer& sink)
{
    // Counted from each clock's first value: an origin moved back by an earlier value (a
    // B-frame's PTS) must not shift the item.
    const auto stamp = [](const ClockTracker& clock) {
        return static_cast<uint64_t>(ticks_since_first(clock)) & kClockMask;
    };
    PidState scratch;
    (void)set_pcr_field(scratch, pes.data(), pes.size(), stamp(context.pcr_clock));
    (void)set_pts_field(scratch, pes.data(), pes.size(), stamp(context.pts_clock));
    (void)set_dts_field(scratch, pes.data(), pes.size(), stamp(context.dts_clock));
    store_bytes(sink, pes.data(), pes.size());
}

}  // namespace

bool parse_caption_pes(CaptionEntry& entry, StreamContext& context, PidState& state,
                       const uint8_t* packet, ByteBuffer* merge_sink)
{
    if (packet == nullptr) {
        return false;
    }
    if (state.unit_start) {
        discard(state);
        if (!start_pes(state, packet)) {
            return false;
        }
    } else if (!continue_pes(state, packet)) {
        discard(state);
        return false;
    }
    if (state.section_remaining != 0) {
        return true;
    }
    // Complete: the buffer leaves the PID state here, so every path below frees it.
    std::vector<uint8_t> pes = std::move(state.section_buffer);
    discard(state);
    if (merge_sink != nullptr && !context.captions.empty() && !pes.empty()) {
        hand_over(context, pes, *merge_sink);
    }
    const size_t start = state.unit_start_offset;
    if (start >= pes.size()) {
        return false;
    }
    return walk_caption_pes(entry, pes.data() + start, pes.size() - start);
}

}  // namespace qv
