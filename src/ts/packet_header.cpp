// Packet header, adaptation field and PES header parsing, and the continuity check.
#include "ts/packet_header.h"

#include <algorithm>

#include "ts/stream_context.h"

namespace qv {
namespace {

/// A 33-bit time stamp in the 5-byte PTS/DTS layout (ISO/IEC 13818-1 2.4.3.7): 4 bits of
/// prefix, bits 32-30, marker, 15 bits, marker, 15 bits, marker.
uint64_t read_time_stamp(const uint8_t* bytes)
{
    return (uint64_t{bytes[0] & 0x0Eu} << 29) | (uint64_t{bytes[1]} << 22) |
           (uint64_t{bytes[2] & 0xFEu} << 14) | (uint64_t{bytes[3]} << 7) | (bytes[4] >> 1);
}

/// The 33-bit base of a 6-byte program clock reference field.
uint64_t read_clock_base(const uint8_t* bytes)
{
    return (uint64_t{bytes[0]} << 25) | (uint64_t{bytes[1]} << 17) | (uint64_t{bytes[2]} << 9) |
           (uint64_t{bytes[3]} << 1) | (bytes[4] >> 7);
}

bool stream_id_without_optional_header(uint8_t stream_id)
{
    // program_stream_map, private_stream_2, ECM, EMM, DSMCC, ITU-T H.222.1 type E, directory.
    switch (stream_id) {
    case 0xBC: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return true;
    default:
        return false;
    }
}

}  // namespace

void parse_adaptation_field(AdaptationFieldInfo& info, const uint8_t* field, size_t available)
{
    info = AdaptationFieldInfo{};
    if (available == 0) {
        return;
    }
    info.adaptation_field_length = field[0];
    if (info.adaptation_field_length == 0 || available < 2) {
        return;
    }
    // Bytes of the field that really exist: the length byte plus what it announces, within the
    // packet.
    const size_t end = std::min<size_t>(available, size_t{1} + info.adaptation_field_length);
    const uint8_t flags = field[1];
    info.discontinuity_indicator = (flags >> 7) & 1;
    info.random_access_indicator = (flags >> 6) & 1;
    info.elementary_stream_priority_indicator = (flags >> 5) & 1;
    info.pcr_flag = (flags >> 4) & 1;
    info.opcr_flag = (flags >> 3) & 1;
    info.splicing_point_flag = (flags >> 2) & 1;
    info.transport_private_data_flag = (flags >> 1) & 1;
    info.adaptation_field_extension_flag = flags & 1;

    size_t at = 2;
    if (info.pcr_flag) {
        if (at + 6 <= end) {
            info.pcr_base = read_clock_base(field + at);
        } else {
            info.pcr_flag = 0;  // announced but cut off: there is no PCR to take
        }
        at += 6;
    }
    if (info.opcr_flag) {
        if (at + 6 <= end) {
            info.opcr_base = read_clock_base(field + at);
        } else {
            info.opcr_flag = 0;
        }
    }
}

bool parse_pes_header(PesHeaderInfo& info, const uint8_t* pes, size_t available)
{
    info = PesHeaderInfo{};
    if (available < 6) {
        return false;
    }
    info.packet_start_code_prefix = (uint32_t{pes[0]} << 16) | (uint32_t{pes[1]} << 8) | pes[2];
    info.stream_id = pes[3];
    info.pes_packet_length = static_cast<uint16_t>((pes[4] << 8) | pes[5]);
    if (info.stream_id == 0xBE) {  // padding_stream: neither optional header nor payload
        info.payload_offset = 6;
        info.has_payload = false;
        return true;
    }
    if (stream_id_without_optional_header(info.stream_id)) {
        info.payload_offset = 6;
        return true;
    }
    if (available < 9) {
        return false;
    }
    info.has_optional_header = true;
    info.pts_dts_flags = (pes[7] >> 6) & 0x03;
    info.pes_header_data_length = pes[8];
    info.payload_offset = 9u + info.pes_header_data_length;
    if (info.pts_dts_flags & 0x02) {
        if (available < 14) {
            return false;
        }
        info.pts = read_time_stamp(pes + 9);
    }
    if (info.pts_dts_flags == 0x03) {
        if (available < 19) {
            return false;
        }
        info.dts = read_time_stamp(pes + 14);
    }
    return true;
}

bool parse_packet_header(PidState& state, const uint8_t* packet)
{
    const uint8_t flags = packet[1];
    const uint8_t control = packet[3];
    state.transport_error = (flags & 0x80) != 0;
    if (state.transport_error) {
        state.header_valid = false;
        state.continuity_counter = 0;
        state.unit_start = false;
        state.priority = false;
        state.scrambling = 0;
        state.adaptation_control = 0;
        state.payload_offset = 0;
        return false;
    }
    take_fixed_header(state, flags, control);

    const bool has_adaptation = (state.adaptation_control & 0x02) != 0;
    state.adaptation_parsed = has_adaptation;
    if (!has_adaptation && !state.unit_start) {
        state.payload_offset = kPacketHeaderSize;  // most packets: payload right after the header
        return true;
    }
    // The pointer_field, or the adaptation_field_length byte, follows the header.
    size_t offset = kPacketHeaderSize + 1;
    if (has_adaptation) {
        offset += packet[4];
        parse_adaptation_field(state.adaptation, packet + kPacketHeaderSize, kPacketPayloadSize);
    }
    if (state.unit_start) {
        if (state.adaptation_control == 0x01 && packet[4] == 0x00 && packet[5] == 0x00 &&
            packet[6] == 0x01) {
            offset = kPacketHeaderSize;  // a PES starts right after the header: no pointer_field
        }
        // A length past the packet leaves no payload; the offset never points outside it.
        state.payload_offset = static_cast<uint8_t>(std::min(offset, kPacketSize));
        state.pes_parsed = false;
        state.steady_feed = 0;
        state.unit_start_offset = state.payload_offset;
        const size_t at = state.payload_offset;
        if (at + 3 <= kPacketSize && packet[at] == 0x00 && packet[at + 1] == 0x00 &&
            packet[at + 2] == 0x01) {
            state.pes_parsed = parse_pes_header(state.pes, packet + at, kPacketSize - at);
        }
    } else {
        state.payload_offset = static_cast<uint8_t>(std::min(offset, kPacketSize));
    }
    return true;
}

PidState* parse_packet_fully(StreamContext& context, const uint8_t* packet)
{
    const uint16_t pid = packet_pid(packet);
    PidState& state = get_pid_state(context, pid);
    if (!parse_packet_header(state, packet)) {
        remove_pid_state(context, pid);
        return nullptr;
    }
    return &state;
}

PidState* parse_packet(StreamContextList& contexts, int32_t id, const uint8_t* packet,
                       StreamContext*& context)
{
    context = find_stream_context(contexts, id);
    if (context == nullptr) {
        return nullptr;
    }
    return parse_packet(*context, packet);
}

bool count_continuity(PidState& state)
{
    state.expected_previous =
        state.first ? static_cast<uint8_t>((state.last_counter - 1) & 0x0F) : state.last_counter;
    state.dropped_last = false;
    state.last_counter = state.continuity_counter;
    bool broke = false;
    // A repeated counter and an adaptation-only packet (whose counter does not advance) count
    // as breaks too; the discontinuity_indicator is not consulted.
    if (!state.first && state.continuity_counter != ((state.expected_previous + 1) & 0x0F)) {
        state.drops += 1;
        state.dropped_last = true;
        broke = true;
    }
    state.packets += 1;
    state.first = false;
    return broke;
}

}  // namespace qv
