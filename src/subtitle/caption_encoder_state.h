#pragma once
// The record of one conversion stream: what the subtitle reader fills in (times, text, display
// size), the settings of the caption statements, and the program tables and continuity counters
// of the caption TS that the encoder writes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "subtitle/patch_time.h"
#include "ts/packetizer.h"

namespace qv {

inline constexpr int32_t kSubtitleAss = 0;
inline constexpr int32_t kSubtitleSrt = 1;

inline constexpr int32_t kDefaultDisplayWidth = 620;
inline constexpr int32_t kDefaultDisplayHeight = 480;
inline constexpr uint16_t kDefaultPmtPid = 0x0410;
inline constexpr uint16_t kDefaultCaptionPid = 0x0416;

/// One elementary stream of the PMT the encoder writes.
struct PmtStreamEntry {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    std::vector<uint8_t> descriptors;  ///< ES_info descriptors
};

using PidCounterList = std::vector<PidCounter>;

struct CaptionEncoderState {
    uint8_t superimpose = 0;  ///< send as superimposed text (private_stream_2, no PTS)
    uint8_t management = 0;   ///< the caption step builds caption management data
    int64_t start_time = 0;   ///< PTS of the next caption PES; start of the entry read last
    int64_t end_time = 0;     ///< end of the entry read last
    int64_t time_offset = 0;  ///< added to every subtitle time the reader delivers
    int32_t display_width = kDefaultDisplayWidth;  ///< SDF; PlayResX of an ASS script
    int32_t display_height = kDefaultDisplayHeight;
    int32_t position_x = 100;  ///< SDP
    int32_t position_y = 30;
    // Base and working values: each statement body starts from the bases.
    int32_t column_base = 0;
    int32_t column = 0;
    int32_t row_base = 0;
    int32_t row = 0;
    int32_t colour_base = 0x87;  ///< foreground colour control code (WHF)
    int32_t colour = 0x87;
    int32_t col_param_base = 0x48;  ///< parameter of the colour control COL
    int32_t col_param = 0x48;
    int32_t size_base = 2;  ///< 0 small, 1 middle, 2 normal size
    int32_t size = 2;
    std::vector<uint8_t> extra_bytes;  ///< inserted into every body after the settings
    std::string caption_text;          ///< Shift_JIS text of the next statement; empty: none
    // Subtitle reader state.
    int32_t subtitle_format = kSubtitleAss;
    int32_t reader_state = 0;
    int32_t start_column = -1;  ///< columns of the ASS "Format:" line
    int32_t end_column = -1;
    int32_t text_column = -1;
    /// Continuity counters by PID. Records that write into one output share one list (see
    /// share_pid_counters), so that a PID's counter counts on whichever record builds a packet.
    std::shared_ptr<PidCounterList> pid_counters = std::make_shared<PidCounterList>();
    uint16_t pat_pid = 0x0000;
    uint16_t pmt_pid = kDefaultPmtPid;
    uint16_t caption_pid = kDefaultCaptionPid;
    uint16_t transport_stream_id = 0;
    uint16_t network_pid = 0x0000;
    uint16_t program_number = 1;
    uint16_t pat_pmt_pid = kDefaultPmtPid;  ///< program_map_PID written into the PAT
    std::vector<uint8_t> program_info;      ///< program_info descriptors of the PMT
    std::vector<PmtStreamEntry> pmt_streams;
    uint16_t pcr_pid = 0x0400;  ///< PCR_PID of the PMT; no PCR is ever sent
    std::vector<PatchTimeEntry> patch_table;
};

/// Frees everything the record holds and gives it its initial values (and a list of its own).
void release_caption_encoder_state(CaptionEncoderState& state);

/// Makes `state` number its packets with the counters of `owner`.
void share_pid_counters(CaptionEncoderState& state, const CaptionEncoderState& owner);

/// The counter of `pid`, appended (with first_use set) when the list has none.
PidCounter& find_or_add_pid_counter(PidCounterList& counters, uint16_t pid);

/// Finds the stream of `pid` or appends one, sets its type and appends the descriptor bytes.
void add_pmt_stream(std::vector<PmtStreamEntry>& streams, uint8_t stream_type, uint16_t pid,
                    const uint8_t* descriptors, size_t length);

}  // namespace qv
