#pragma once
// Rebuilt output: a byte run that begins with a 4-byte TS header is cut into 188-byte packets
// numbered by a continuity-counter generator; PCR, PTS and DTS can be rewritten inside the run
// before it is cut.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "ts/packet_header.h"
#include "ts/packet_writer.h"

namespace qv {

/// Continuity-counter generator for the rebuilt packets of one PID (or one kind of output).
struct PidCounter {
    uint16_t pid = 0;
    bool first_use = true;  ///< the next run sets the counter from its own first packet
    uint8_t last = 0;       ///< counter given to the last packet produced
    uint8_t next = 0;       ///< counter for the next packet (0-15)
    int64_t packets = 0;    ///< packets produced
};

/// Cuts `run` into 188-byte packets: the first packet is the run's first 188 bytes unchanged,
/// later ones repeat its header with unit start cleared and payload only; the last is padded
/// with 0xFF. Empty when the run is not a packet start or carries a transport error.
std::vector<uint8_t> packetize(const uint8_t* run, size_t length, PidCounter* counter);

/// Rewrites the PCR base of the run's first packet. `state` is parsed from the run unless it
/// already holds a parsed header. True when the PCR was written.
bool set_pcr_field(PidState& state, uint8_t* run, size_t length, uint64_t value);
/// Rewrites the PTS of the PES that the run's first packet starts (prefix 0010 or 0011).
bool set_pts_field(PidState& state, uint8_t* run, size_t length, uint64_t value);
/// Rewrites the DTS of that PES (prefix 0001) when it carries PTS and DTS.
bool set_dts_field(PidState& state, uint8_t* run, size_t length, uint64_t value);

/// New time stamps for write_rebuilt_packet; absent members are left as they are.
struct TimeStampRewrite {
    std::optional<uint64_t> pcr;
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
};

/// Rewrites the time stamps of `run`, packetizes it with `counter` (null: the packets keep the
/// first packet's counter) and writes the packets. `state` may be null (a scratch state is
/// used). Returns what write_packets returned.
size_t write_rebuilt_packet(PacketWriter& writer, uint8_t* run, size_t length, PidState* state,
                            PidCounter* counter, const TimeStampRewrite& rewrite);

}  // namespace qv
