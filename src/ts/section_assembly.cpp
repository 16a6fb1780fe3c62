#include "ts/section_assembly.h"

#include <algorithm>

#include "ts/crc32_mpeg2.h"

namespace qv {
namespace {

// The section header up to and including section_length.
constexpr size_t kSectionHeaderSize = 3;
constexpr size_t kCrcSize = 4;

void append_packet_bytes(PidState& state, const uint8_t* packet, size_t from, size_t count)
{
    if (from >= kPacketSize) {
        return;
    }
    count = std::min(count, kPacketSize - from);
    state.section_buffer.insert(state.section_buffer.end(), packet + from, packet + from + count);
    state.section_remaining -=
        static_cast<uint32_t>(std::min<size_t>(count, state.section_remaining));
}

SectionStatus finish_if_complete(PidState& state)
{
    if (state.section_remaining > 0) {
        return SectionStatus::in_progress;
    }
    const std::vector<uint8_t>& buffer = state.section_buffer;
    size_t start = section_offset(state);
    if (buffer.size() < start + kSectionHeaderSize + kCrcSize) {
        reset_section(state);
        return SectionStatus::corrupt;
    }
    const uint8_t* crc_field = buffer.data() + buffer.size() - kCrcSize;
    uint32_t stated = (uint32_t{crc_field[0]} << 24) | (uint32_t{crc_field[1]} << 16) |
                      (uint32_t{crc_field[2]} << 8) | uint32_t{crc_field[3]};
    if (crc32_mpeg2(buffer.data() + start, crc_field) != stated) {
        reset_section(state);
        return SectionStatus::corrupt;
    }
    return SectionStatus::complete;
}

SectionStatus continue_section(PidState& state, const uint8_t* packet)
{
    if (state.dropped_last || !has_payload(state) || state.section_remaining == 0 ||
        state.section_buffer.empty()) {
        reset_section(state);
        return SectionStatus::rejected;
    }
    append_packet_bytes(state, packet, state.payload_offset, state.section_remaining);
    return finish_if_complete(state);
}

}  // namespace

void reset_section(PidState& state)
{
    state.section_buffer.clear();
    state.section_buffer.shrink_to_fit();
    state.section_remaining = 0;
}

size_t section_offset(const PidState& state)
{
    const std::vector<uint8_t>& buffer = state.section_buffer;
    if (buffer.size() < 5) {
        return buffer.size();
    }
    uint8_t adaptation_control = (buffer[3] >> 4) & 0x03;
    if (adaptation_control & 0x02) {
        return 5 + size_t{buffer[4]};
    }
    // A payload-only unit start whose payload begins with a PES start code has no pointer_field.
    if (buffer.size() >= 7 && buffer[4] == 0x00 && buffer[5] == 0x00 && buffer[6] == 0x01) {
        return 4;
    }
    return 5;
}

ByteCursor section_body(const PidState& state)
{
    const std::vector<uint8_t>& buffer = state.section_buffer;
    size_t start = section_offset(state);
    if (buffer.size() < start + kSectionHeaderSize + kCrcSize) {
        return ByteCursor{nullptr, nullptr, false};
    }
    return make_cursor(buffer.data() + start, buffer.size() - kCrcSize - start);
}

SectionStatus collect_section(PidState& state, const uint8_t* packet, uint8_t table_id,
                              UnitStartRule rule)
{
    if (packet == nullptr || !state.header_valid) {
        return SectionStatus::rejected;
    }
    if (!state.unit_start) {
        return continue_section(state, packet);
    }
    // The EIT collector lets a payload-only unit start finish a pending section: the bytes
    // after its pointer_field are that section's tail (ISO/IEC 13818-1 2.4.4.2).
    if (rule == UnitStartRule::continue_if_pending && state.section_remaining > 0 &&
        state.adaptation_control == 0x01) {
        return continue_section(state, packet);
    }

    reset_section(state);
    size_t offset = state.payload_offset;
    if (offset < 4 || offset + kSectionHeaderSize > kPacketSize || !has_payload(state) ||
        packet[offset] != table_id) {
        return SectionStatus::rejected;
    }
    uint32_t section_length = ((uint32_t{packet[offset + 1]} & 0x0F) << 8) | packet[offset + 2];
    uint32_t total = section_length + static_cast<uint32_t>(offset + kSectionHeaderSize);
    state.section_remaining = total;
    state.section_buffer.reserve(total);
    append_packet_bytes(state, packet, 0, total);
    return finish_if_complete(state);
}

}  // namespace qv
