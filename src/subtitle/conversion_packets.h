#pragma once
// The packets of a conversion stream: a PAT and a PMT that announce one program with one caption
// stream, and the caption PES of each statement, cut into TS packets with continuity counters and
// handed to the output's writer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "subtitle/caption_encoder_state.h"
#include "ts/packet_writer.h"

namespace qv {

/// Steps of emit_conversion_packets.
inline constexpr int kStepPat = 0;
inline constexpr int kStepPmt = 1;
inline constexpr int kStepCaption = 2;

/// The caption stream's descriptors in the PMT: stream identifier (component_tag 0x30) and data
/// component (data_component_id 0x0008, additional info 0x3D).
inline constexpr std::array<uint8_t, 8> kCaptionStreamDescriptors = {0x52, 0x01, 0x30, 0xFD,
                                                                     0x03, 0x00, 0x08, 0x3D};
inline constexpr uint8_t kCaptionStreamType = 0x06;

/// One whole TS packet with the PAT: program 0 (the network PID) and the record's program.
std::array<uint8_t, 188> build_pat_packet(const CaptionEncoderState& state);

/// A TS header on `pmt_pid`, pointer_field 0 and the PMT section with its CRC-32. Empty when the
/// section or a descriptor loop is too long for its length field.
std::vector<uint8_t> build_pmt_section(const CaptionEncoderState& state);

/// The TS header of a PES's first packet on `pid` with unit start; a PES of up to 182 bytes is
/// preceded by an adaptation field of stuffing so that header and PES fill exactly one packet.
std::vector<uint8_t> build_pes_run(uint16_t pid, const std::vector<uint8_t>& pes);

/// Builds the packets of one step from the record and writes them: kStepPat, kStepPmt, or
/// kStepCaption (caption management data or a statement, as `management` says, with the record's
/// `caption_text`). True when every building stage succeeded; any other step gives false.
/// Whether the writer took the packets shows in `writer.failed`.
///
/// A text too long for one data group or one PES is cut at a character boundary so that both
/// fit; `cut_bytes` (when given) receives the number of text bytes left out, 0 when the whole text
/// went out.
[[nodiscard]] bool emit_conversion_packets(CaptionEncoderState& state, int step,
                                           PacketWriter& writer, size_t* cut_bytes = nullptr);

}  // namespace qv
