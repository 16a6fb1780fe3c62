#pragma once
// Reassembly of one PSI/SI section per PID across packets (ISO/IEC 13818-1 2.4.4), shared by the
// PAT, PMT, SDT and EIT handlers. The PidState's section buffer holds the unit-start packet from
// its byte 0 (TS header and pointer_field included), then the payloads of the continuation
// packets; the section proper starts where that first packet's payload starts.
//
// Known limits, kept on purpose: the pointer_field is not followed (a section is expected right
// after it, in a packet without adaptation field), so a unit-start packet whose section starts
// elsewhere yields nothing; only one section per unit start is taken.
#include <cstddef>
#include <cstdint>

#include "ts/byte_cursor.h"
#include "ts/packet_header.h"

namespace qv {

enum class SectionStatus {
    rejected,     ///< not a start of the wanted table, or a continuation with nothing to continue
    in_progress,  ///< bytes are still missing
    complete,     ///< a whole section with a matching CRC_32 is in the buffer
    corrupt,      ///< a whole section whose CRC_32 does not match (already reset)
};

/// How a unit-start packet is treated while a section is pending.
enum class UnitStartRule {
    restart,              ///< it starts over (PAT, PMT, SDT)
    continue_if_pending,  ///< a payload-only one continues the pending section (EIT)
};

/// Feeds the current packet of `state` (parsed and continuity-checked) to its section assembly
/// for a table with `table_id`. After `complete` the section stays in the buffer until
/// reset_section; every other result leaves the assembly reset or still collecting.
[[nodiscard]] SectionStatus collect_section(PidState& state, const uint8_t* packet,
                                            uint8_t table_id,
                                            UnitStartRule rule = UnitStartRule::restart);

/// Forgets the section being collected.
void reset_section(PidState& state);

/// Offset of the section (its table_id) within the collected buffer, derived from the stored
/// first packet's header the same way the header parse placed the payload.
size_t section_offset(const PidState& state);

/// The complete section without its CRC_32: from table_id up to the last byte before the CRC.
/// Every walk over a section reads through this cursor, so no length field can lead it past the
/// collected bytes or into the CRC.
ByteCursor section_body(const PidState& state);

}  // namespace qv
