#pragma once
// One caption PID of a stream: its decoder state with the last caption text, and what the last
// caption management and statement data of that PID said (ARIB STD-B24).
#include <array>
#include <cstdint>

#include "arib/arib_text_state.h"

namespace qv {

/// Header fields of the last caption management data read on a PID.
struct CaptionManagementInfo {
    uint8_t tmd = 0;
    uint8_t num_languages = 0;
    // Fields of the last language entry read.
    uint8_t language_tag = 0;
    uint8_t dmf = 0;
    uint8_t dc = 0;
    std::array<uint8_t, 3> language_code = {};
    uint8_t format = 0;
    uint8_t tcs = 0;
    uint8_t rollup_mode = 0;
    /// data_group_id of the statement data to decode (the "jpn" language); 0 when none matched.
    uint8_t statement_group_id = 0;
    int32_t data_unit_loop_length = 0;
    int32_t data_units_offset = 0;  ///< offset of the data units within the data group body
};

/// Header fields of the last caption statement data read on a PID.
struct CaptionStatementInfo {
    uint8_t tmd = 0;
    int32_t data_unit_loop_length = 0;
    int32_t data_units_offset = 0;  ///< offset of the data units within the data group body
};

struct CaptionEntry {
    uint16_t pid = 0;
    AribTextState text_state;  ///< designations and the last decoded statement text
    CaptionManagementInfo management;
    CaptionStatementInfo statement;
};

/// A caption entry for `pid` whose decoder starts in the given profile (0 full service,
/// 1 partial-reception service), designations reset from it.
CaptionEntry make_caption_entry(uint16_t pid, uint16_t text_profile);

}  // namespace qv
