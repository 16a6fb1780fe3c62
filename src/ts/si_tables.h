#pragma once
// The ARIB STD-B10 service information the tool prints besides captions: service names from the
// SDT, the present and following programme from EIT present/following, and the broadcast wall
// clock from the TOT or TDT. The results live in the StreamContext (services, events,
// stream_time); the TOT also renews the PCR wrap-around prediction.
#include <cstdint>

#include "base/byte_buffer.h"
#include "ts/packet_header.h"
#include "ts/stream_context.h"

namespace qv {

inline constexpr uint16_t kSdtPid = 0x0011;
inline constexpr uint16_t kEitPid = 0x0012;
inline constexpr uint16_t kEitPidM = 0x0026;  ///< terrestrial M-EIT
inline constexpr uint16_t kEitPidL = 0x0027;  ///< terrestrial L-EIT
inline constexpr uint16_t kTotPid = 0x0014;

inline constexpr uint8_t kSdtActualTableId = 0x42;
inline constexpr uint8_t kEitPresentFollowingTableId = 0x4E;  ///< actual TS, present/following
inline constexpr uint8_t kTotTableId = 0x73;
inline constexpr uint8_t kTdtTableId = 0x70;

/// True for the PIDs that carry EIT present/following.
inline bool is_eit_pid(uint16_t pid)
{
    return pid == kEitPid || pid == kEitPidM || pid == kEitPidL;
}

/// Takes an SDT (actual) section from PID 0x0011: the first six services' ids and names. With a
/// `copy`, a valid section (from the first packet's byte 0) is stored there, change tracked.
/// True while a section is in progress or when a valid one was taken.
[[nodiscard]] bool parse_sdt(StreamContext& context, PidState& state, const uint8_t* packet,
                             ByteBuffer* copy = nullptr);

/// Takes an EIT present/following (actual) section from PID 0x0012, 0x0026 or 0x0027: every
/// event passes through the latest slot in turn. The same result and copy rules as parse_sdt.
[[nodiscard]] bool parse_eit(StreamContext& context, PidState& state, const uint8_t* packet,
                             ByteBuffer* copy = nullptr);

/// Takes the JST_time of a TOT or TDT packet on PID 0x0014 (no CRC check) and renews the
/// wrap-around prediction. With a `copy`, the raw packet is stored there. True when a valid
/// time was taken.
[[nodiscard]] bool parse_tot(StreamContext& context, PidState& state, const uint8_t* packet,
                             ByteBuffer* copy = nullptr);

}  // namespace qv
