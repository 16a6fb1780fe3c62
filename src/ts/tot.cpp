// The TOT/TDT handler: the broadcast wall clock, taken from a single packet without section
// assembly or CRC check.
#include "ts/broadcast_time.h"
#include "ts/si_tables.h"
#include "ts/wraparound.h"

namespace qv {
namespace {

// JST_time follows table_id and the two section_length bytes (ARIB STD-B10 Part 2 5.2.8, 5.2.9).
constexpr size_t kTimeFieldOffset = 3;
constexpr size_t kTimeFieldSize = 5;

}  // namespace

bool parse_tot(StreamContext& context, PidState& state, const uint8_t* packet, ByteBuffer* copy)
{
    if (packet == nullptr || state.pid != kTotPid || !state.header_valid || !has_payload(state)) {
        return false;
    }
    size_t offset = state.payload_offset;
    if (offset + kTimeFieldOffset + kTimeFieldSize > kPacketSize) {
        return false;
    }
    uint8_t table_id = packet[offset];
    platform::CalendarTime time;
    if ((table_id != kTotTableId && table_id != kTdtTableId) ||
        !decode_mjd_time(packet + offset + kTimeFieldOffset, time)) {
        return false;
    }

    StreamTimeInfo& stream_time = context.stream_time;
    stream_time.current_time = time;
    stream_time.current_seconds = broadcast_time_to_seconds(time);
    bool taken = stream_time.current_seconds >= 1;
    if (taken) {
        update_wraparound_prediction(context, stream_time.current_seconds);
    }
    if (copy != nullptr) {
        copy->track_changes = true;
        store_bytes(*copy, packet, kPacketSize);
    }
    return taken;
}

}  // namespace qv
