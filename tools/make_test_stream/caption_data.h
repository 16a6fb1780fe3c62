#pragma once
// Caption PES data of the test streams (ARIB STD-B24 Part 3): a caption management data group
// that announces Japanese, and caption statement data groups with one statement body each,
// behind the synchronised PES data header.
#include <string_view>

#include "ts_writers.h"

namespace qv::test_stream {

/// Management data group of group A (data_group_id 0x00): TMD free, one language, tag 0,
/// "jpn", no data units. Its statements therefore travel in data group 0x01.
Bytes make_management_group();

/// Statement data group 0x01 with one statement body unit (parameter 0x20) that clears the
/// screen, sets the writing format and position and then writes `text` (UTF-8). False when the
/// text has a character the text writer does not know.
[[nodiscard]] bool make_statement_group(std::string_view text, Bytes& group);

/// Synchronised PES data (data_identifier 0x80, private_stream_id 0xFF, no private header)
/// around one data group: the payload of a caption PES.
Bytes make_caption_pes_data(const Bytes& group);

}  // namespace qv::test_stream
