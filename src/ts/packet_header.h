#pragma once
// The per-PID state of one input stream: the header of the current packet, its adaptation field,
// the PES header of the PID's last unit start, the continuity counters and the reassembly buffer
// that section and PES collectors keep there (ISO/IEC 13818-1 2.4.3.2, 2.4.3.4, 2.4.3.6).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ts/ts_packet.h"

namespace qv {

struct StreamContext;
/// The contexts of a worker, searched by id (workers use one, id 0).
using StreamContextList = std::vector<std::unique_ptr<StreamContext>>;

/// The adaptation field of one packet. A length of 0 leaves every other field 0.
struct AdaptationFieldInfo {
    uint16_t adaptation_field_length = 0;
    uint8_t discontinuity_indicator = 0;
    uint8_t random_access_indicator = 0;
    uint8_t elementary_stream_priority_indicator = 0;
    uint8_t pcr_flag = 0;  ///< cleared again when the PCR does not fit inside the field
    uint8_t opcr_flag = 0;  ///< cleared again when the OPCR does not fit inside the field
    uint8_t splicing_point_flag = 0;
    uint8_t transport_private_data_flag = 0;
    uint8_t adaptation_field_extension_flag = 0;
    uint64_t pcr_base = 0;   ///< 33-bit program_clock_reference_base
    uint64_t opcr_base = 0;  ///< 33-bit original_program_clock_reference_base
};

/// The fixed part of a PES header and its time stamps.
struct PesHeaderInfo {
    bool has_optional_header = false;
    /// False for a padding stream (stream_id 0xBE): the bytes after its header are stuffing.
    bool has_payload = true;
    uint32_t payload_offset = 0;  ///< from the first byte of the PES (00 00 01) to its payload
    uint32_t packet_start_code_prefix = 0;  ///< 24 bits; 0x000001 in a real PES
    uint8_t stream_id = 0;
    uint16_t pes_packet_length = 0;
    uint8_t pts_dts_flags = 0;  ///< 2 bits: 2 PTS, 3 PTS and DTS
    uint8_t pes_header_data_length = 0;
    uint64_t pts = 0;  ///< 33 bits
    uint64_t dts = 0;  ///< 33 bits
};

/// Everything known about one PID of one input stream.
struct PidState {
    uint16_t pid = 0;

    // Header of the current packet (the fields a packet without adaptation field and unit start
    // sets to the same values lie together).
    bool header_valid = false;
    bool transport_error = false;
    bool unit_start = false;
    bool adaptation_parsed =
        false;  ///< the packet has an adaptation field, parsed into `adaptation`
    /// Offset of the payload inside the packet, at most 188 (then the packet has no payload
    /// bytes). At a unit start without adaptation field it points past the pointer_field, unless
    /// a PES start code follows the header directly.
    uint8_t payload_offset = 0;
    uint8_t continuity_counter = 0;  ///< 4 bits
    bool priority = false;
    uint8_t scrambling = 0;          ///< 2 bits
    uint8_t adaptation_control = 0;  ///< 2 bits: 1 payload only, 2 adaptation only, 3 both

    // Continuity (check_continuity).
    bool dropped_last = false;  ///< the last examined packet broke the counter sequence
    bool first = true;          ///< no packet examined yet
    uint8_t expected_previous = 0;  ///< counter of the previous packet as used by the last check
    uint8_t last_counter = 0;       ///< continuity_counter of the last examined packet
    int64_t packets = 0;            ///< packets examined
    int64_t drops = 0;              ///< counter breaks detected

    // Adaptation field of the current packet (valid while `adaptation_parsed`).
    AdaptationFieldInfo adaptation;

    // PES header of the PID's last unit start (kept by packets without unit start).
    bool pes_parsed = false;
    PesHeaderInfo pes;
    /// The clock feed count (StreamContext::clock_feeds) at which feeding the time stamps of
    /// `pes` again was found to move no clock, with the answer given then; 0 when not found
    /// since `pes` was parsed.
    uint64_t steady_feed = 0;
    bool steady_pts = false;
    bool steady_dts = false;
    /// Payload offset recorded at the last unit start: where the section or the PES begins.
    uint8_t unit_start_offset = 0;

    // Section or caption PES reassembly. The buffer begins with the whole unit-start packet (TS
    // header included), followed by the payloads of the continuation packets.
    std::vector<uint8_t> section_buffer;
    uint32_t section_remaining =
        0;  ///< bytes still missing; 0 = nothing pending (PES totals exceed 16 bits)
};

/// True when adaptation_field_control says the packet carries payload.
inline bool has_payload(const PidState& state) { return (state.adaptation_control & 0x01) != 0; }
/// Payload bytes of the current packet (0 when the adaptation field fills it).
inline size_t payload_length(const PidState& state)
{
    return state.payload_offset < kPacketSize ? kPacketSize - state.payload_offset : 0;
}

/// Parses the 4-byte header of a 188-byte packet (and its adaptation field and PES header) into
/// `state`. False (header_valid clear) when transport_error_indicator is set.
[[nodiscard]] bool parse_packet_header(PidState& state, const uint8_t* packet);

/// Parses an adaptation field starting at its length byte; `available` bytes may be read.
/// Fields that would lie past the length or past `available` are left 0 with their flag clear.
void parse_adaptation_field(AdaptationFieldInfo& info, const uint8_t* field, size_t available);

/// Parses a PES header starting at its 00 00 01 prefix; `available` bytes may be read. False
/// when the fixed part or a time stamp announced by the flags lies past `available`.
[[nodiscard]] bool parse_pes_header(PesHeaderInfo& info, const uint8_t* pes, size_t available);

/// The fields of the header's bytes 1 and 3 of a packet without transport error.
inline void take_fixed_header(PidState& state, uint8_t flags, uint8_t control)
{
    state.header_valid = true;
    state.transport_error = false;
    state.unit_start = (flags & 0x40) != 0;
    state.continuity_counter = control & 0x0F;
    state.priority = (flags & 0x20) != 0;
    state.scrambling = (control >> 6) & 0x03;
    state.adaptation_control = (control >> 4) & 0x03;
}

// parse_packet and check_continuity, which work on a StreamContext, are in ts/stream_context.h.

}  // namespace qv
