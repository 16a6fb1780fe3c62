#pragma once
// The table dispatch that every stream mode shares: PAT, EIT present/following, SDT, TOT/TDT
// (with the TOT text and the PCR wrap-around line), PMTs, and the lookup of caption PIDs.
#include <cstdint>

#include "pump/stream_pump.h"

namespace qv {

struct ByteBuffer;
struct CaptionEntry;
struct ProgramEntry;

struct TableDispatch {
    PacketKind kind = PacketKind::other;
    CaptionEntry* caption = nullptr;  ///< the entry of a caption packet (not yet parsed)
    ProgramEntry* program = nullptr;  ///< the program of a PMT packet
    uint32_t pmt_result = 0;          ///< what parse_pmt answered for a PMT packet
};

/// Where the table parsers store what they took (merge's caption stream hands the tables on):
/// a valid EIT or SDT section, or a TOT packet. Null members: nothing is stored.
struct TableCopies {
    ByteBuffer* eit = nullptr;
    ByteBuffer* sdt = nullptr;
    ByteBuffer* tot = nullptr;
};

/// Hands the packet to the parser its PID belongs to. A table parser that does not take the
/// packet leaves it to the PMT and caption lookups, as any other PID. Sets `packet.kind`.
TableDispatch dispatch_tables(StreamPump& pump, PumpPacket& packet,
                              const TableCopies& copies = {});

/// The PID lookups changed (a PAT or PMT was taken): every PID is looked up again.
void forget_plain_pids(StreamPump& pump);

/// Parses a caption packet into its entry and prints a new caption text ("%s\r\n") on its own
/// line; true when a text was printed (the caller counts it).
bool print_new_caption_text(StreamPump& pump, PumpPacket& packet, CaptionEntry& entry);

}  // namespace qv
