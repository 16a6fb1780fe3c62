#pragma once
// A small transport stream writer for whole-program tests: PSI and SI sections with their real
// CRC-32, PCR packets, PES packets with PTS and DTS, and caption PES carrying ARIB data groups
// with their CRC-16, each packet with its own running continuity counter.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

using StreamBytes = std::vector<uint8_t>;

struct StreamWriter {
    StreamBytes bytes;
    std::map<uint16_t, uint8_t> counters;  ///< next continuity counter per PID
};

/// One packet: header (with unit start), optional adaptation body (flags byte on), payload,
/// 0xFF fill. The counter advances only when the packet carries payload.
void put_packet(StreamWriter& writer, uint16_t pid, bool unit_start, const StreamBytes& payload,
                const std::optional<StreamBytes>& adaptation = std::nullopt);
/// A section behind a pointer_field 0 (it must fit one packet).
void put_section(StreamWriter& writer, uint16_t pid, const StreamBytes& section);
/// An adaptation-only packet carrying a PCR base.
void put_pcr(StreamWriter& writer, uint16_t pid, uint64_t base);
/// A one-packet PES with PTS and optional DTS.
void put_pes(StreamWriter& writer, uint16_t pid, uint8_t stream_id, uint64_t pts,
             std::optional<uint64_t> dts, const StreamBytes& data);
/// A caption PES (stream_id 0xBD, PTS) whose statement shows `jis_text` (JIS kanji pairs in G0),
/// preceded by a management data group choosing "jpn"; it may span several packets.
void put_caption(StreamWriter& writer, uint16_t pid, uint64_t pts, const StreamBytes& jis_text);

uint32_t crc32_of(const StreamBytes& bytes);
/// Appends the CRC-32/MPEG-2 of the bytes so far.
StreamBytes with_crc(StreamBytes section);

StreamBytes pat_section(uint16_t program_number, uint16_t pmt_pid);
/// A PMT with one caption stream (stream_type 0x06, component_tag 0x30) and one video stream.
StreamBytes pmt_section(uint16_t program_number, uint16_t pcr_pid, uint16_t caption_pid,
                        uint16_t video_pid);
/// An SDT (actual) with one service and its provider and service names (8-unit code bytes).
StreamBytes sdt_section(uint16_t service_id, const StreamBytes& provider, const StreamBytes& name);
/// An EIT present/following section with one event starting at local `start` (y, m, d, h, mi, s)
/// lasting `duration_minutes`, with its name.
StreamBytes eit_section(uint16_t service_id, uint8_t section_number, uint16_t event_id,
                        const int (&start)[6], int duration_minutes, const StreamBytes& name);
/// A TOT at local time (y, m, d, h, mi, s).
StreamBytes tot_section(const int (&time)[6]);

/// Appends `more` behind `out` (kept out of line: GCC 12 reports false bounds errors on the
/// inlined vector insert).
void append(StreamBytes& out, const StreamBytes& more);

/// Writes `bytes` to `path`; false when it cannot.
bool write_file_bytes(const std::string& path, const StreamBytes& bytes);

/// PIDs of the 188-byte packets of `bytes`, in order.
std::vector<uint16_t> packet_pids(const StreamBytes& bytes);

}  // namespace qv::test
