#pragma once
// Byte-level writers of the test-stream generator: big-endian fields, the two CRCs, and the
// cutting of sections and PES packets into 188-byte transport stream packets
// (ISO/IEC 13818-1 2.4.3). The generator carries its own writers so that the streams it makes
// are an independent check of the program's readers.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::test_stream {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kTsPacketSize = 188;
inline constexpr size_t kTsPayloadSize = 184;
inline constexpr uint16_t kNullPacketPid = 0x1FFF;
inline constexpr uint64_t kTimestampModulus = uint64_t{1} << 33;  ///< PCR base, PTS and DTS

void put_u8(Bytes& out, uint32_t value);
void put_u16(Bytes& out, uint32_t value);
void put_u24(Bytes& out, uint32_t value);
void put_u32(Bytes& out, uint32_t value);
/// Overwrites two bytes at `offset` (big-endian); the caller guarantees they exist.
void patch_u16(Bytes& out, size_t offset, uint32_t value);

/// CRC-32/MPEG-2 (polynomial 0x04C11DB7, initial 0xFFFFFFFF, no reflection, no final XOR).
uint32_t crc32_mpeg2(const uint8_t* bytes, size_t length);
/// CRC-16 of caption data groups (polynomial 0x1021, initial 0, no reflection, no final XOR).
uint16_t crc16_caption(const uint8_t* bytes, size_t length);

/// Appends the CRC_32 of everything in `section` and returns it.
void finish_section(Bytes& section);

/// Continuity counter of one PID: the value for the next packet with payload.
struct ContinuityCounter {
    uint8_t next = 0;
};

/// Cuts a PSI/SI section into packets: a pointer_field of 0 in the first (payload only, no
/// adaptation field, as the readers expect), 0xFF stuffing after the section's end.
std::vector<Bytes> packetize_section(const Bytes& section, uint16_t pid,
                                     ContinuityCounter& counter);

/// The 5-byte PTS or DTS field with its 4-bit prefix (0010 PTS only, 0011 PTS of a pair,
/// 0001 DTS) and marker bits.
void put_timestamp(Bytes& out, uint8_t prefix, uint64_t value);

/// A PES packet: start code, stream_id, PES_packet_length (0 when `unbounded`, as video in a
/// transport stream may have), the optional header with PTS (and DTS when `with_dts`), then
/// `payload`.
Bytes make_pes(uint8_t stream_id, const Bytes& payload, uint64_t pts, bool with_dts, uint64_t dts,
               bool unbounded);

/// Hands out the TS packets of one PES one at a time, so that the multiplexer can interleave
/// them and put a PCR into whichever packet is sent when the PCR falls due.
struct PesCutter {
    Bytes pes;
    size_t position = 0;  ///< first byte of `pes` not yet sent
    uint16_t pid = 0;
};

/// True while bytes of the PES are left.
inline bool has_pending(const PesCutter& cutter) { return cutter.position < cutter.pes.size(); }

/// Builds the next packet of the PES into `packet` (188 bytes): unit start on the first,
/// an adaptation field with the 27 MHz `pcr` when `with_pcr`, and adaptation-field stuffing
/// when the rest of the PES is shorter than the payload room.
void cut_next_packet(PesCutter& cutter, ContinuityCounter& counter, bool with_pcr, uint64_t pcr,
                     uint8_t* packet);

/// A null packet (PID 0x1FFF, payload of 0xFF).
void make_null_packet(uint8_t* packet);

}  // namespace qv::test_stream
