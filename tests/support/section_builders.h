#pragma once
// Builders for PSI and SI test inputs: sections with a real CRC_32 (PAT, PMT, SDT, EIT
// present/following, TOT and TDT), their descriptors and loop entries, MJD/BCD time fields, and
// the split of a section into TS packets; plus feeding a packet through the per-packet steps
// every worker runs before the table handlers.
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace qv {
struct PidState;
struct StreamContext;
}  // namespace qv

namespace qv::test {

using Bytes = std::vector<uint8_t>;

/// Joins byte strings.
Bytes concat_bytes(std::initializer_list<Bytes> parts);

/// Rewrites the last 4 bytes of a whole section with the CRC_32 of the bytes before them.
void put_crc(Bytes& section);

/// A section with the long header: table_id, section_syntax_indicator 1, section_length,
/// table_id_extension, version, current_next_indicator 1, section numbers; then `body` and the
/// CRC_32.
Bytes long_section(uint8_t table_id, uint16_t extension, const Bytes& body, uint8_t version = 0,
                   uint8_t section_number = 0, uint8_t last_section_number = 0);

/// A PAT of (program_number, PID) pairs.
Bytes pat_section(uint16_t transport_stream_id,
                  const std::vector<std::pair<uint16_t, uint16_t>>& programs);

/// One ES entry of a PMT: stream_type, PID, ES_info_length (reserved bits set) and descriptors.
Bytes es_entry(uint8_t stream_type, uint16_t pid, const Bytes& descriptors = {});
/// A descriptor: tag, length, body.
Bytes descriptor(uint8_t tag, const Bytes& body);
/// stream_identifier_descriptor (0x52) with a component_tag.
Bytes stream_identifier(uint8_t component_tag);
/// A PMT of `program_number` with its ES loop (concatenated es_entry results).
Bytes pmt_section(uint16_t program_number, uint16_t pcr_pid, const Bytes& es_loop,
                  const Bytes& program_info = {});

/// service_descriptor (0x48): service_type, provider name, service name (8-unit code bytes).
Bytes service_descriptor(uint8_t service_type, const Bytes& provider, const Bytes& name);
/// One service of an SDT: service_id, EIT flags, running status 4, and its descriptors.
Bytes sdt_service(uint16_t service_id, const Bytes& descriptors);
/// An SDT actual (0x42) holding the concatenated services.
Bytes sdt_section(uint16_t transport_stream_id, uint16_t original_network_id,
                  const Bytes& services);

/// short_event_descriptor (0x4D) with language "jpn", event name and text (8-unit code bytes).
Bytes short_event_descriptor(const Bytes& name, const Bytes& text);
/// One event of an EIT: event_id, 5-byte start, 3-byte duration, running status, descriptors.
Bytes eit_event(uint16_t event_id, const Bytes& start_time, const Bytes& duration,
                const Bytes& descriptors);
/// An EIT present/following actual (0x4E) of `service_id` holding the concatenated events.
Bytes eit_section(uint16_t service_id, const Bytes& events, uint8_t section_number = 0);

/// The 5-byte MJD + BCD time field of a calendar date and time.
Bytes mjd_time(int year, int month, int day, int hour, int minute, int second);
/// The 3-byte BCD duration field.
Bytes bcd_duration(int hours, int minutes, int seconds);
/// A TDT (0x70, no CRC) or a TOT (0x73, empty descriptor loop, CRC) carrying `time`.
Bytes time_section(uint8_t table_id, const Bytes& time);

/// Splits a section into 188-byte packets of `pid`: the first with unit start and pointer_field
/// 0, counters from `counter` on (advanced past the last packet), 0xFF after the section.
std::vector<Bytes> section_packets(const Bytes& section, uint16_t pid, uint8_t& counter);

/// Runs the per-packet steps before the table handlers: parse_packet and check_continuity.
/// Null when the packet was treated as absent.
PidState* ingest_packet(StreamContext& context, const Bytes& packet);

}  // namespace qv::test
