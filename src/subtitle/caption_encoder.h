#pragma once
// The ARIB STD-B24 caption side of the encoder: the 8-unit code of a statement body (settings,
// active positions, text runs with their designations), and the layers around it up to the PES
// packet: data unit, caption management or statement data, data group with its CRC-16, PES data
// and the PES packet. Each building stage gives an empty result when it gets no bytes or when a
// length field cannot hold what it carries.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "subtitle/caption_encoder_state.h"

namespace qv {

inline constexpr uint8_t kDataGroupManagement = 0x00;  ///< group A caption management data
inline constexpr uint8_t kDataGroupStatement = 0x01;   ///< group A statement, first language
inline constexpr uint8_t kStreamIdPrivate1 = 0xBD;
inline constexpr uint8_t kStreamIdPadding = 0xBE;
inline constexpr uint8_t kStreamIdPrivate2 = 0xBF;

/// Start of a statement body: working values from their bases, then CS, SDF (display size),
/// SDP (position), APS, the foreground colour, COL and the character size.
void write_caption_settings(CaptionEncoderState& state, std::vector<uint8_t>& body);
/// APS with the working row and column.
void write_active_position(const CaptionEncoderState& state, std::vector<uint8_t>& out);
/// Moves to column 0 of the next row (row 15 wraps to 0) and writes APS there.
void write_line_break(CaptionEncoderState& state, std::vector<uint8_t>& out);

/// Appends the 8-unit code of a Shift_JIS text: runs of kanji, ASCII and half-width katakana,
/// each run opened by the designation and invocation of its set; LF as a line break. A
/// two-byte character outside JIS X 0208 (code page 932's extension rows 0xF0-0xFC, or a
/// broken trail byte) becomes 〓. A lead byte without its trail byte ends the text and drops
/// the run it would have joined.
void encode_caption_text(CaptionEncoderState& state, std::string_view text,
                         std::vector<uint8_t>& body);

/// Deletes external-character markers: each "[外:…]" (found character by character, so that a
/// trail byte 0x5B or 0x5D is never taken for a bracket) is deleted together with every other
/// occurrence of the same marker. A marker without its "]" stays, and ends the removal.
void remove_external_character_markers(std::string& text);

/// A whole statement body: settings, `extra_bytes`, and for a non-empty text the row chosen by
/// its line count, APS and the encoded text without its external-character markers.
std::vector<uint8_t> build_statement_body(CaptionEncoderState& state, std::string_view text);

/// A data unit of the statement body: 0x1F, data_unit_parameter 0x20, 24-bit size, body.
std::vector<uint8_t> build_data_unit(const std::vector<uint8_t>& body);
/// Caption management data for one language ("jpn", DMF 0, Format 8) around the data units;
/// TMD 2 writes the 36-bit OTM.
std::vector<uint8_t> build_management_data(const std::vector<uint8_t>& units, uint8_t tmd = 0,
                                           uint64_t otm = 0);
/// Caption statement data around the data units; TMD 1 or 2 writes the 36-bit STM.
std::vector<uint8_t> build_statement_data(const std::vector<uint8_t>& units, uint8_t tmd = 0,
                                          uint64_t stm = 0);
/// A data group (version 0, link numbers 0) with its CRC-16; empty past 65535 bytes of data.
std::vector<uint8_t> build_data_group(uint8_t data_group_id, const std::vector<uint8_t>& data);
/// PES data: data_identifier 0x80 (0x81 superimposed), private_stream_id 0xFF, no header data.
std::vector<uint8_t> build_pes_data(const std::vector<uint8_t>& group, bool superimpose);

/// What a PES packet carries besides its data.
struct PesRequest {
    uint8_t stream_id = kStreamIdPrivate1;
    std::optional<uint64_t> pts;  ///< 33 bits; higher bits are dropped
    std::optional<uint64_t> dts;  ///< written only together with a PTS
};

/// A PES packet (ISO/IEC 13818-1 2.4.3.6): stream ids without the optional header carry the data
/// right after PES_packet_length, the padding stream carries 0xFF bytes in its place, the others
/// get the optional header with the requested time stamps. Empty when PES_packet_length cannot
/// hold the length.
std::vector<uint8_t> build_pes_packet(const std::vector<uint8_t>& data, const PesRequest& request);

/// The caption PES of the record's current step: statement body of `text`, data unit, caption
/// management or statement data as `management` says, data group, PES data and PES packet with
/// `start_time` as PTS (none when superimposed). Empty when a stage fails.
std::vector<uint8_t> build_caption_pes(CaptionEncoderState& state, std::string_view text);

}  // namespace qv
