#pragma once
// Constants of the MPEG-2 transport stream packet (ISO/IEC 13818-1 2.4.3) and of the 90 kHz
// system clock shared by the packet readers, parsers and writers.
#include <cstddef>
#include <cstdint>

namespace qv {

inline constexpr size_t kPacketSize = 188;          ///< every packet written is this long
inline constexpr size_t kTimestampedPacketSize = 192;  ///< 4-byte prefix + packet, input only
inline constexpr size_t kPacketHeaderSize = 4;
inline constexpr size_t kPacketPayloadSize = kPacketSize - kPacketHeaderSize;  // 184
inline constexpr uint8_t kSyncByte = 0x47;

inline constexpr uint16_t kPidCount = 0x2000;  ///< 13-bit PIDs
inline constexpr uint16_t kNullPid = 0x1FFF;   ///< stuffing packets; their counter is undefined
inline constexpr uint16_t kNoPid = 0xFFFF;     ///< free slot in PID sets

inline constexpr uint64_t kClockTicksPerSecond = 90000;
inline constexpr uint64_t kClockModulus = uint64_t{1} << 33;  ///< PCR base, PTS and DTS wrap here
inline constexpr uint64_t kClockMask = kClockModulus - 1;

/// The 13-bit PID of a packet (bytes 1-2).
inline uint16_t packet_pid(const uint8_t* packet)
{
    return static_cast<uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}

}  // namespace qv
