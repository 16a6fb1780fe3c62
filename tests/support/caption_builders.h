#pragma once
// Builders for caption test inputs: data units, caption management and statement data, data
// groups with their CRC-16, PES data and PES packets, split into TS packets behind a PAT and a
// PMT; plus a byte comparison that shows where two byte strings part.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

/// Concatenates byte vectors.
Bytes join(std::initializer_list<Bytes> parts);

}  // namespace qv::test
