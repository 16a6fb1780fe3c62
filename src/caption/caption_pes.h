#pragma once
// Caption PES reassembly (ISO/IEC 13818-1 PES over TS packets) and the walk of its ARIB STD-B24
// data groups: caption management data chooses the Japanese statement, whose text units are
// decoded into the caption entry.
#include <cstddef>
#include <cstdint>

#include "ts/caption_entry.h"

namespace qv {

struct ByteBuffer;
struct PidState;
struct StreamContext;

/// Takes one 188-byte TS packet of a caption PID, whose `state` parse_packet and
/// check_continuity have filled, into the PES being reassembled in `state`. When the PES is
/// complete it is walked: the last non-empty Japanese statement text is stored in `entry`'s text
/// state (text_changed tells whether it differs from the text held before). With a `merge_sink`,
/// the completed PES (the starting packet followed by the continuation payloads) is first copied
/// into it with its PCR, PTS and DTS set to the ticks of the context's clocks since their first
/// values.
/// True while the PES is incomplete, or when a data group of the completed PES was accepted.
bool parse_caption_pes(CaptionEntry& entry, StreamContext& context, PidState& state,
                       const uint8_t* packet, ByteBuffer* merge_sink = nullptr);

/// Walks a completed caption PES that starts at `pes` (00 00 01 …) and ends `length` bytes
/// later: PES header, PES data header, then each data group with its CRC-16 check. True when a
/// data group was accepted (a CRC-checked group with data).
bool walk_caption_pes(CaptionEntry& entry, const uint8_t* pes, size_t length);

/// Walks the data groups of a PES payload (data_identifier 0x80/0x81, private_stream_id 0xFF,
/// header, data groups) of `length` bytes; groups start only before `end_bound`. True when a
/// data group was accepted.
bool walk_caption_pes_data(CaptionEntry& entry, const uint8_t* data, size_t length,
                           size_t end_bound);

}  // namespace qv
