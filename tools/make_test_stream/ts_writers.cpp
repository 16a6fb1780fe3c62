#include "ts_writers.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qv::test_stream {

namespace {

constexpr std::array<uint32_t, 256> make_crc32_table()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t byte = 0; byte < 256; ++byte) {
        uint32_t crc = byte << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        table[byte] = crc;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrc32Table = make_crc32_table();

constexpr uint8_t kSyncByte = 0x47;

void put_packet_header(uint8_t* packet, uint16_t pid, bool unit_start, uint8_t adaptation_control,
                       uint8_t counter)
{
    packet[0] = kSyncByte;
    packet[1] = static_cast<uint8_t>((unit_start ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(pid & 0xFF);
    packet[3] = static_cast<uint8_t>((adaptation_control << 4) | (counter & 0x0F));
}

uint8_t take_counter(ContinuityCounter& counter)
{
    const uint8_t value = counter.next;
    counter.next = static_cast<uint8_t>((counter.next + 1) & 0x0F);
    return value;
}

}  // namespace

void put_u8(Bytes& out, uint32_t value) { out.push_back(static_cast<uint8_t>(value)); }

void put_u16(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void put_u24(Bytes& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    put_u16(out, value);
}

void put_u32(Bytes& out, uint32_t value)
{
    put_u16(out, value >> 16);
    put_u16(out, value);
}

void patch_u16(Bytes& out, size_t offset, uint32_t value)
{
    out[offset] = static_cast<uint8_t>(value >> 8);
    out[offset + 1] = static_cast<uint8_t>(value);
}

uint32_t crc32_mpeg2(const uint8_t* bytes, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t index = 0; index < length; ++index) {
        crc = (crc << 8) ^ kCrc32Table[((crc >> 24) ^ bytes[index]) & 0xFF];
    }
    return crc;
}

uint16_t crc16_caption(const uint8_t* bytes, size_t length)
{
    uint16_t crc = 0;
    for (size_t index = 0; index < length; ++index) {
        crc = static_cast<uint16_t>(crc ^ (bytes[index] << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

void finish_section(Bytes& section) { put_u32(section, crc32_mpeg2(section.data(), section.size())); }

std::vector<Bytes> packetize_section(const Bytes& section, uint16_t pid, ContinuityCounter& counter)
{
    std::vector<Bytes> packets;
    size_t position = 0;
    bool first = true;
    while (first || position < section.size()) {
        Bytes packet(kTsPacketSize, 0xFF);
        put_packet_header(packet.data(), pid, first, 0x01, take_counter(counter));
        size_t offset = 4;
        if (first) {
            packet[offset++] = 0x00;  // pointer_field: the section follows at once
        }
        const size_t take = std::min(section.size() - position, kTsPacketSize - offset);
        std::memcpy(packet.data() + offset, section.data() + position, take);
        position += take;
        first = false;
        packets.push_back(std::move(packet));
    }
    return packets;
}

void put_timestamp(Bytes& out, uint8_t prefix, uint64_t value)
{
    value %= kTimestampModulus;
    put_u8(out, static_cast<uint32_t>((prefix << 4) | ((value >> 29) & 0x0E) | 0x01));
    put_u16(out, static_cast<uint32_t>(((value >> 14) & 0xFFFE) | 0x01));
    put_u16(out, static_cast<uint32_t>(((value << 1) & 0xFFFE) | 0x01));
}

Bytes make_pes(uint8_t stream_id, const Bytes& payload, uint64_t pts, bool with_dts, uint64_t dts,
               bool unbounded)
{
    const size_t header_data_length = with_dts ? 10 : 5;
    Bytes pes;
    pes.reserve(9 + header_data_length + payload.size());
    put_u24(pes, 0x000001);
    put_u8(pes, stream_id);
    const size_t length = 3 + header_data_length + payload.size();
    // Video PES in a transport stream may leave the length 0 (ISO/IEC 13818-1 2.4.3.7); so must
    // anything too long for the 16-bit field.
    put_u16(pes, (unbounded || length > 0xFFFF) ? 0 : static_cast<uint32_t>(length));
    put_u8(pes, 0x84);  // '10', not scrambled, data_alignment_indicator
    put_u8(pes, with_dts ? 0xC0 : 0x80);
    put_u8(pes, static_cast<uint32_t>(header_data_length));
    put_timestamp(pes, with_dts ? 0x3 : 0x2, pts);
    if (with_dts) {
        put_timestamp(pes, 0x1, dts);
    }
    pes.insert(pes.end(), payload.begin(), payload.end());
    return pes;
}

void cut_next_packet(PesCutter& cutter, ContinuityCounter& counter, bool with_pcr, uint64_t pcr,
                     uint8_t* packet)
{
    const size_t remaining = cutter.pes.size() - cutter.position;
    const size_t pcr_field = with_pcr ? 8 : 0;  // length byte, flags, 6 bytes of PCR
    const size_t room = kTsPayloadSize - pcr_field;
    const size_t payload = std::min(remaining, room);
    const size_t stuffing = room - payload;
    const size_t adaptation = pcr_field + stuffing;

    put_packet_header(packet, cutter.pid, cutter.position == 0, adaptation > 0 ? 0x03 : 0x01,
                      take_counter(counter));
    uint8_t* out = packet + 4;
    if (adaptation > 0) {
        *out++ = static_cast<uint8_t>(adaptation - 1);  // adaptation_field_length
        if (adaptation > 1) {
            *out++ = with_pcr ? 0x10 : 0x00;  // PCR_flag
            if (with_pcr) {
                const uint64_t base = (pcr / 300) % kTimestampModulus;
                const uint32_t extension = static_cast<uint32_t>(pcr % 300);
                *out++ = static_cast<uint8_t>(base >> 25);
                *out++ = static_cast<uint8_t>(base >> 17);
                *out++ = static_cast<uint8_t>(base >> 9);
                *out++ = static_cast<uint8_t>(base >> 1);
                *out++ = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (extension >> 8));
                *out++ = static_cast<uint8_t>(extension);
            }
            const size_t fill = static_cast<size_t>(packet + 4 + adaptation - out);
            std::memset(out, 0xFF, fill);
            out += fill;
        }
    }
    std::memcpy(out, cutter.pes.data() + cutter.position, payload);
    cutter.position += payload;
}

void make_null_packet(uint8_t* packet)
{
    std::memset(packet, 0xFF, kTsPacketSize);
    put_packet_header(packet, kNullPacketPid, false, 0x01, 0);
}

}  // namespace qv::test_stream
