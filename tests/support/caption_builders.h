#pragma once
// Builders for caption test inputs: data units, caption management and statement data, data
// groups with their CRC-16, PES data and PES packets, split into TS packets behind a PAT and a
// PMT; plus a byte comparison that shows where two byte strings part.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv {
struct ByteBuffer;
struct CaptionEntry;
struct StreamContext;
}  // namespace qv

namespace qv::test {

using Bytes = std::vector<uint8_t>;

/// Passes when the bytes are equal; otherwise names the first differing offset and shows the
/// bytes around it in hexadecimal.
::testing::AssertionResult same_bytes(std::string_view actual, std::string_view expected);

/// A string of bytes from a list (for expected Shift_JIS texts).
std::string byte_string(std::initializer_list<uint8_t> bytes);

/// Shift_JIS text as UTF-8 (for comparing with UTF-8 literals).
std::string sjis_to_utf8(std::string_view sjis);

/// A data unit: unit_separator 0x1F, parameter, 24-bit size, body.
Bytes data_unit(uint8_t parameter, const Bytes& body);

/// Caption management data with TMD 0 announcing one language per code (e.g. "jpn"), language
/// tags 0, 1, …, DMF 0, then the given data units.
Bytes management_data(const std::vector<std::string>& language_codes, const Bytes& units = {});

/// Caption statement data with TMD 0 and the given data units.
Bytes statement_data(const Bytes& units);

/// A data group: id, version 0, link numbers 0, 16-bit size, body and the CRC-16 over them.
Bytes data_group(uint8_t data_group_id, const Bytes& body);

/// Synchronised PES data: data_identifier 0x80, private_stream_id 0xFF, header length 0 (0xF0),
/// then the data groups.
Bytes pes_data(const Bytes& groups);

/// A private_stream_1 PES packet with PTS carrying `payload`.
Bytes pes_packet(const Bytes& payload, uint64_t pts);

/// Splits a PES packet into 188-byte TS packets of `pid`: the first with unit start, continuity
/// counters from `counter` on (updated), the last padded with an adaptation field of stuffing.
std::vector<Bytes> ts_packets(const Bytes& pes, uint16_t pid, uint8_t& counter);

/// Splits a run of caption PES payloads laid end to end (PES data header 80 FF F0 and one data
/// group with its CRC each) into the payloads. Stops at the first block that does not fit.
std::vector<Bytes> split_pes_payloads(const Bytes& run);

/// A caption stream as a worker sees it: a stream context and the entry of one caption PID.
struct CaptionFeed {
    /// The entry is made directly with the given profile.
    CaptionFeed(uint16_t pid, uint16_t text_profile = 0);
    /// The entry is made by a PAT and a PMT (on `pmt_pid`; 0x1FC8 gives the partial-reception
    /// profile) that announce `pid` as a caption stream, fed through parse_pat and parse_pmt.
    /// `entry` stays null when the PMT did not create it.
    static std::unique_ptr<CaptionFeed> announced(uint16_t pid, uint16_t pmt_pid);
    ~CaptionFeed();
    std::unique_ptr<StreamContext> context;
    CaptionEntry* entry = nullptr;  ///< inside context->captions
    uint16_t pid;
    uint8_t counter = 0;  ///< continuity counter for the next packet built
    uint64_t next_pts = 900000;
    std::vector<std::string> texts;  ///< texts reported as changed, in order (Shift_JIS)
};

/// Runs one TS packet through the per-packet steps of a worker (parse_packet, check_continuity,
/// clock updates, parse_caption_pes) and, as the caller's duty, collects a changed text and
/// clears text_changed. Returns parse_caption_pes's result (false when the packet is rejected).
bool feed_packet(CaptionFeed& feed, const Bytes& packet, ByteBuffer* merge_sink = nullptr);
/// Wraps a PES payload into a PES packet with the next PTS (100 ms steps) and feeds its packets.
void feed_payload(CaptionFeed& feed, const Bytes& payload, ByteBuffer* merge_sink = nullptr);

/// Concatenates byte vectors.
Bytes join(std::initializer_list<Bytes> parts);

}  // namespace qv::test
