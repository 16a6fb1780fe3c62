#pragma once
// Builders for transport stream test inputs: 188-byte packets with a chosen PID, counter, flags,
// adaptation field and payload; adaptation fields carrying a PCR; PES headers carrying a PTS and
// a DTS; and streams of such packets.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qv::test {

using Bytes = std::vector<uint8_t>;

/// Header flags and the adaptation field of a built packet.
struct PacketOptions {
    bool unit_start = false;
    bool transport_error = false;
    bool priority = false;
    uint8_t scrambling = 0;
    /// Bytes of the adaptation field after its length byte (flags byte first); the length byte is
    /// their count. Absent: no adaptation field.
    std::optional<Bytes> adaptation;
    bool payload = true;  ///< false: adaptation_field_control 10 (the adaptation field fills the packet)
};

/// A 188-byte packet: header, optional adaptation field, payload, then 0xFF up to 188 bytes.
/// A payload that does not fit is cut.
Bytes make_packet(uint16_t pid, uint8_t counter, const Bytes& payload = {},
                  const PacketOptions& options = {});

/// Adaptation field body (flags byte and fields) with PCR_flag and a PCR of `base` (33 bits) and
/// `extension` (9 bits); `extra_flags` are ORed into the flags byte (e.g. 0x80 discontinuity).
Bytes pcr_adaptation(uint64_t base, uint16_t extension = 0, uint8_t extra_flags = 0);

/// A PES header: 00 00 01, stream_id, PES_packet_length, then for stream ids with an optional
/// header: 0x80 (marker bits 10), PTS_DTS_flags, PES_header_data_length and the time stamps.
Bytes pes_header(uint8_t stream_id, uint16_t pes_packet_length, std::optional<uint64_t> pts = {},
                 std::optional<uint64_t> dts = {});

/// The 5-byte PTS/DTS field with its 4-bit prefix (0010, 0011, 0001).
Bytes time_stamp_field(uint8_t prefix, uint64_t value);

/// Joins byte strings.
Bytes concat(std::initializer_list<Bytes> parts);

/// A 192-byte unit: a 4-byte prefix (no sync byte in it) and the packet.
Bytes with_prefix(const Bytes& packet, uint32_t arrival_time = 0);

/// A stream of `count` packets on `pid` with counters from `first_counter` on and a payload that
/// numbers the packet (bytes 4-7 hold its index, big-endian) so tests can tell packets apart.
Bytes numbered_packets(uint16_t pid, size_t count, uint8_t first_counter = 0);
/// The index a numbered packet carries.
uint32_t packet_number(const uint8_t* packet);

}  // namespace qv::test
