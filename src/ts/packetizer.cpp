// Cutting runs into packets, and rewriting PCR, PTS and DTS inside a run.
#include "ts/packetizer.h"

#include <algorithm>
#include <array>
#include <cstring>


namespace qv {
namespace {

/// Parses the run's first packet into `state`. A run shorter than a packet is read as if padded
/// with 0xFF, so no read leaves the run.
bool parse_run_header(PidState& state, const uint8_t* run, size_t length)
{
    if (length >= kPacketSize) {
        return parse_packet_header(state, run);
    }
    std::array<uint8_t, kPacketSize> packet;
    packet.fill(0xFF);
    std::memcpy(packet.data(), run, length);
    return parse_packet_header(state, packet.data());
}

bool is_run(const uint8_t* run, size_t length)
{
    return run != nullptr && length > kPacketHeaderSize && run[0] == kSyncByte;
}

/// The shared first steps of the time-stamp writers: the parse result when `state` had to be
/// parsed now, false when it already held a header.
bool ensure_parsed(PidState& state, const uint8_t* run, size_t length, bool& parsed_now)
{
    parsed_now = false;
    if (state.header_valid) {
        return true;
    }
    parsed_now = true;
    return parse_run_header(state, run, length);
}

/// The 5-byte PTS/DTS field (ISO/IEC 13818-1 2.4.3.7) with its 4-bit prefix.
void write_time_stamp(uint8_t* field, uint8_t prefix, uint64_t value)
{
    value &= kClockMask;
    field[0] = static_cast<uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 0x01);
    field[1] = static_cast<uint8_t>(value >> 22);
    field[2] = static_cast<uint8_t>(((value >> 14) & 0xFE) | 0x01);
    field[3] = static_cast<uint8_t>(value >> 7);
    field[4] = static_cast<uint8_t>(((value << 1) & 0xFE) | 0x01);
}

bool pes_time_stamp_writable(const PidState& state)
{
    return state.unit_start && state.pes_parsed && state.pes.packet_start_code_prefix == 1 &&
           state.pes.has_optional_header && (state.pes.pts_dts_flags & 0x02) != 0;
}

}  // namespace

std::vector<uint8_t> packetize(const uint8_t* run, size_t length, PidCounter* counter)
{
    std::vector<uint8_t> packets;
    if (!is_run(run, length)) {
        return packets;
    }
    PidState scratch;
    if (!parse_run_header(scratch, run, length)) {
        return packets;
    }
    if (counter != nullptr && counter->first_use) {
        counter->next = scratch.continuity_counter;
        counter->last = static_cast<uint8_t>((counter->next - 1) & 0x0F);
        counter->first_use = false;
    }
    // Later packets repeat the first header, without unit start and with payload only: an
    // adaptation field of the first packet is never repeated.
    std::array<uint8_t, kPacketHeaderSize> header = {run[0], static_cast<uint8_t>(run[1] & ~0x40),
                                                     run[2],
                                                     static_cast<uint8_t>((run[3] & 0xCF) | 0x10)};
    packets.reserve(((length - kPacketHeaderSize + kPacketPayloadSize - 1) / kPacketPayloadSize) *
                    kPacketSize);
    size_t left = length;  // bytes the next packet would hold, header included
    for (size_t index = 0; left > 0; ++index) {
        const size_t start = packets.size();
        packets.resize(start + kPacketSize, 0xFF);
        uint8_t* packet = packets.data() + start;
        if (index == 0) {
            std::memcpy(packet, run, std::min(left, kPacketSize));
        } else {
            std::memcpy(packet, header.data(), kPacketHeaderSize);
            const size_t from = kPacketHeaderSize + kPacketPayloadSize * index;
            std::memcpy(packet + kPacketHeaderSize, run + from,
                        std::min(left - kPacketHeaderSize, kPacketPayloadSize));
        }
        if (counter != nullptr) {
            packet[3] = static_cast<uint8_t>((packet[3] & 0xF0) | counter->next);
            counter->last = counter->next;
            counter->next = static_cast<uint8_t>((counter->next + 1) & 0x0F);
            counter->packets += 1;
        }
        if (length == kPacketSize || left <= kPacketSize) {
            break;
        }
        left -= kPacketPayloadSize;
    }
    return packets;
}

bool set_pcr_field(PidState& state, uint8_t* run, size_t length, uint64_t value)
{
    if (!is_run(run, length)) {
        return false;
    }
    bool parsed_now = false;
    if (!ensure_parsed(state, run, length, parsed_now)) {
        return false;
    }
    // The PCR base sits at bytes 6-10 of the packet: header, adaptation_field_length, flags.
    if (!state.adaptation_parsed || !state.adaptation.pcr_flag || length < 12) {
        return parsed_now;
    }
    value &= kClockMask;
    run[6] = static_cast<uint8_t>(value >> 25);
    run[7] = static_cast<uint8_t>(value >> 17);
    run[8] = static_cast<uint8_t>(value >> 9);
    run[9] = static_cast<uint8_t>(value >> 1);
    // Bit 7 of byte 10 is the lowest base bit; the reserved bits and the extension stay.
    run[10] = static_cast<uint8_t>((run[10] & 0x7F) | ((value & 1) << 7));
    return true;
}

bool set_pts_field(PidState& state, uint8_t* run, size_t length, uint64_t value)
{
    if (!is_run(run, length)) {
        return false;
    }
    bool parsed_now = false;
    if (!ensure_parsed(state, run, length, parsed_now)) {
        return false;
    }
    const size_t at = size_t{state.unit_start_offset} + 9;
    if (!pes_time_stamp_writable(state) || at + 5 > length) {
        return parsed_now;
    }
    write_time_stamp(run + at, state.pes.pts_dts_flags == 0x03 ? 0x3 : 0x2, value);
    return true;
}

bool set_dts_field(PidState& state, uint8_t* run, size_t length, uint64_t value)
{
    if (!is_run(run, length)) {
        return false;
    }
    bool parsed_now = false;
    if (!ensure_parsed(state, run, length, parsed_now)) {
        return false;
    }
    const size_t at = size_t{state.unit_start_offset} + 14;
    if (!pes_time_stamp_writable(state) || state.pes.pts_dts_flags != 0x03 || at + 5 > length) {
        return parsed_now;
    }
    write_time_stamp(run + at, 0x1, value);
    return true;
}

size_t write_rebuilt_packet(PacketWriter& writer, uint8_t* run, size_t length, PidState* state,
                            PidCounter* counter, const TimeStampRewrite& rewrite)
{
    if (!has_destination(writer) || writer.capacity <= 0 || !is_run(run, length)) {
        return 0;
    }
    PidState scratch;
    PidState& target = state != nullptr ? *state : scratch;
    if (rewrite.pcr) {
        (void)set_pcr_field(target, run, length, *rewrite.pcr);
    }
    if (rewrite.pts) {
        (void)set_pts_field(target, run, length, *rewrite.pts);
    }
    if (rewrite.dts) {
        (void)set_dts_field(target, run, length, *rewrite.dts);
    }
    const std::vector<uint8_t> packets = packetize(run, length, counter);
    return write_packets(writer, packets.data(), packets.size());
}

}  // namespace qv
