#pragma once
// The program tables (ISO/IEC 13818-1 2.4.4.3 and 2.4.4.8): the PAT gives the programs and their
// PMT PIDs; each PMT gives a program's elementary streams, its PCR PID and the caption streams,
// and can be rebuilt without the caption entries (filter) or with other caption entries in
// their place (merge).
#include <cstdint>

#include "base/byte_buffer.h"
#include "ts/packet_header.h"
#include "ts/packet_writer.h"
#include "ts/packetizer.h"
#include "ts/stream_context.h"

namespace qv {

inline constexpr uint8_t kPatTableId = 0x00;
inline constexpr uint8_t kPmtTableId = 0x02;
inline constexpr uint16_t kPatPid = 0x0000;
/// PMT PID of the partial-reception (one-segment) service; its captions use profile 1.
inline constexpr uint16_t kPartialReceptionPmtPid = 0x1FC8;

/// Request word bit 16: leave every caption entry out of the rebuilt PMT.
inline constexpr uint32_t kRemoveCaptionEntries = 0x00010000;
/// Request word bits 0-15: the PID of one entry to leave out (0 = none).
inline constexpr uint32_t kRemovePidMask = 0x0000FFFF;

/// parse_pmt result bit 31: a valid section with at least one ES entry was taken.
inline constexpr uint32_t kPmtTaken = 0x80000000;
/// parse_pmt result bit 30: a rebuilt PMT was written.
inline constexpr uint32_t kPmtWritten = 0x40000000;

/// What a worker asks parse_pmt to do besides parsing. Without output and counter the PMT is
/// only parsed.
struct PmtRewriteRequest {
    uint32_t request_word = 0;  ///< kRemoveCaptionEntries and/or a PID; 0 = no filter request
    /// Complete ES entries appended in place of the caption entries (replace mode when non-empty).
    const ByteBuffer* replacement_entries = nullptr;
    PacketWriter* output = nullptr;  ///< where the rebuilt packets go
    PidCounter* counter = nullptr;   ///< continuity counters of every rebuilt PMT of the run
};

/// Takes a PAT from PID 0: replaces the program list with the programs of a valid section.
/// True while a section is in progress or when a valid one was taken.
[[nodiscard]] bool parse_pat(StreamContext& context, PidState& state, const uint8_t* packet);

/// Takes a PMT of `program` (the packet's PID is its PMT PID): replaces its ES list, registers
/// its PCR PID, creates the caption entries and, on request, writes the rebuilt PMT.
/// Returns 0 until a complete valid section was taken, then kPmtTaken (when it held an ES entry)
/// with kPmtWritten when a rebuilt PMT was written.
uint32_t parse_pmt(StreamContext& context, ProgramEntry& program, PidState& state,
                   const uint8_t* packet, const PmtRewriteRequest& request = {});

/// The program whose PMT PID is `pid`; null for PID 0 or no match.
ProgramEntry* find_program_by_pmt_pid(StreamContext& context, uint16_t pid);

/// The caption entry of `pid`; null for PID 0 or no match.
CaptionEntry* find_caption_entry(StreamContext& context, uint16_t pid);

/// Adds `pid` to the context's PCR PIDs when a slot is free. True when the PID is registered
/// afterwards (a ninth distinct PID is not).
bool register_pcr_pid(StreamContext& context, uint16_t pid);

}  // namespace qv
