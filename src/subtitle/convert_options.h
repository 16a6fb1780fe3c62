#pragma once
// The option values of convert mode: the PID definitions (-piddef) and the parameter bytes
// (-paramhex). Both tell the caller what they left out, so that it can say so.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "subtitle/caption_encoder_state.h"

namespace qv {

/// Why a -piddef item was left out.
enum class PidItemProblem {
    no_value,       ///< no ":0x" in the item
    unknown_name,   ///< the name begins with neither "pmt" nor "caption"
    out_of_range,   ///< 0, below 0x0020, 0x1FFF or past 13 bits
    same_as_other,  ///< the PMT PID and the caption PID would be equal
};

struct IgnoredPidItem {
    std::string item;  ///< the item as written
    PidItemProblem problem = PidItemProblem::no_value;
};

struct PidDefinitions {
    uint16_t pmt_pid = kDefaultPmtPid;
    uint16_t caption_pid = kDefaultCaptionPid;
    std::vector<IgnoredPidItem> ignored;  ///< in the order of the text
};

/// Reads a comma-separated list of name:0xHEX items. A name beginning with "pmt" or "caption"
/// (ASCII letters without case) sets that PID; the value is taken from its hexadecimal digits,
/// any other character skipped. Of several items for one name the last usable one counts. When
/// the two PIDs would end up equal, the items that made them so are left out and the defaults
/// stay for those.
PidDefinitions parse_piddef(std::string_view text);

struct ParamBytes {
    std::vector<uint8_t> bytes;
    size_t non_hex_characters = 0;  ///< characters that counted with their own code
    bool odd_character_dropped = false;
    bool stopped = false;  ///< a stop request ended the parsing
};

/// Two characters per byte, the first giving the high 4 bits: '0'-'9', 'A'-'F' and 'a'-'f' count
/// as hex digits, any other character with its own code, the sum kept to 8 bits; a last odd
/// character is dropped. Window messages are dispatched after every byte, and a stop request ends
/// the parsing.
ParamBytes parse_paramhex(std::string_view text);

}  // namespace qv
