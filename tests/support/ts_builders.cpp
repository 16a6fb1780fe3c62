#include "support/ts_builders.h"

#include <algorithm>

namespace qv::test {

Bytes make_packet(uint16_t pid, uint8_t counter, const Bytes& payload, const PacketOptions& options)
{
    Bytes packet(188, 0xFF);
    const uint8_t control = static_cast<uint8_t>((options.adaptation ? 0x2 : 0x0) |
                                                 (options.payload ? 0x1 : 0x0));
    packet[0] = 0x47;
    packet[1] = static_cast<uint8_t>((options.transport_error ? 0x80 : 0) |
                                     (options.unit_start ? 0x40 : 0) |
                                     (options.priority ? 0x20 : 0) | ((pid >> 8) & 0x1F));
    packet[2] = static_cast<uint8_t>(pid);
    packet[3] = static_cast<uint8_t>(((options.scrambling & 3) << 6) | (control << 4) | (counter & 0x0F));
    size_t at = 4;
    if (options.adaptation) {
        const Bytes& field = *options.adaptation;
        const size_t length = std::min<size_t>(field.size(), 183);
        packet[at++] = static_cast<uint8_t>(length);
        std::copy_n(field.begin(), length, packet.begin() + static_cast<ptrdiff_t>(at));
        at += length;
    }
    const size_t count = std::min(payload.size(), packet.size() - at);
    std::copy_n(payload.begin(), count, packet.begin() + static_cast<ptrdiff_t>(at));
    return packet;
}

Bytes pcr_adaptation(uint64_t base, uint16_t extension, uint8_t extra_flags)
{
    return {static_cast<uint8_t>(0x10 | extra_flags),
            static_cast<uint8_t>(base >> 25),
            static_cast<uint8_t>(base >> 17),
            static_cast<uint8_t>(base >> 9),
            static_cast<uint8_t>(base >> 1),
            static_cast<uint8_t>(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1)),
            static_cast<uint8_t>(extension)};
}

Bytes time_stamp_field(uint8_t prefix, uint64_t value)
{
    return {static_cast<uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 1),
            static_cast<uint8_t>(value >> 22),
            static_cast<uint8_t>(((value >> 14) & 0xFE) | 1),
            static_cast<uint8_t>(value >> 7),
            static_cast<uint8_t>(((value << 1) & 0xFE) | 1)};
}

Bytes pes_header(uint8_t stream_id, uint16_t pes_packet_length, std::optional<uint64_t> pts,
                 std::optional<uint64_t> dts)
{
    Bytes header = {0x00, 0x00, 0x01, stream_id, static_cast<uint8_t>(pes_packet_length >> 8),
                    static_cast<uint8_t>(pes_packet_length)};
    switch (stream_id) {
    case 0xBC: case 0xBE: case 0xBF: case 0xF0: case 0xF1: case 0xF2: case 0xF8: case 0xFF:
        return header;
    default:
        break;
    }
    const uint8_t flags = pts ? (dts ? 0xC0 : 0x80) : 0x00;
    Bytes stamps;
    if (pts) {
        stamps = time_stamp_field(dts ? 0x3 : 0x2, *pts);
    }
    if (pts && dts) {
        const Bytes field = time_stamp_field(0x1, *dts);
        stamps.insert(stamps.end(), field.begin(), field.end());
    }
    header.push_back(0x80);
    header.push_back(flags);
    header.push_back(static_cast<uint8_t>(stamps.size()));
    header.insert(header.end(), stamps.begin(), stamps.end());
    return header;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

Bytes with_prefix(const Bytes& packet, uint32_t arrival_time)
{
    // Copy permission 0 and a 30-bit arrival time; keep 0x47 out of the prefix so that tests
    // decide where sync bytes appear.
    Bytes unit = {static_cast<uint8_t>((arrival_time >> 24) & 0x3F),
                  static_cast<uint8_t>(arrival_time >> 16), static_cast<uint8_t>(arrival_time >> 8),
                  static_cast<uint8_t>(arrival_time)};
    for (auto& byte : unit) {
        if (byte == 0x47) {
            byte = 0x46;
        }
    }
    unit.insert(unit.end(), packet.begin(), packet.end());
    return unit;
}

Bytes numbered_packets(uint16_t pid, size_t count, uint8_t first_counter)
{
    Bytes stream;
    stream.reserve(count * 188);
    for (size_t index = 0; index < count; ++index) {
        const Bytes packet = make_packet(
            pid, static_cast<uint8_t>(first_counter + index),
            {static_cast<uint8_t>(index >> 24), static_cast<uint8_t>(index >> 16),
             static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index)});
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    return stream;
}

uint32_t packet_number(const uint8_t* packet)
{
    return (uint32_t{packet[4]} << 24) | (uint32_t{packet[5]} << 16) | (uint32_t{packet[6]} << 8) |
           packet[7];
}

}  // namespace qv::test
