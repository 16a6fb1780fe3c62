// The walk of a completed caption PES: PES data header, data groups with their CRC-16, caption
// management and statement data and their data units (ARIB STD-B24 caption data
// structure). Every read goes through a cursor bounded by the reassembled bytes.
#include <atomic>

#include "base/console_output.h"
#include "arib/arib_text_decoder.h"
#include "caption/caption_pes.h"
#include "arib/crc16.h"
#include "ts/byte_cursor.h"
#include "ts/packet_header.h"

namespace qv {
namespace {

constexpr uint8_t kManagementGroupA = 0x00;
constexpr uint8_t kManagementGroupB = 0x20;
constexpr uint8_t kStatementBody = 0x20;  ///< data_unit_parameter of 8-unit code text
constexpr size_t kGroupHeaderSize = 5;

bool stopping()
{
    return stop_requested.load(std::memory_order_relaxed) != 0;
}

uint32_t read_u24(ByteCursor& cur)
{
    const uint32_t high = read_u8(cur);
    const uint32_t low = read_u16(cur);
    return cur.ok ? (high << 16 | low) : 0;
}

/// Steps over the 36-bit OTM or STM and its 4 reserved bits.
void skip_time(ByteCursor& cur)
{
    skip_bytes(cur, 5);
}

/// Reads caption management data; the statement group of the "jpn" language is chosen anew.
/// The entry is changed only when the whole header could be read.
bool read_management(CaptionEntry& entry, uint8_t group_id, ByteCursor& body,
                     const uint8_t* body_start)
{
    CaptionManagementInfo info = entry.management;
    info.tmd = read_u8(body) >> 6;
    if (info.tmd == 2) {
        skip_time(body);
    }
    info.num_languages = read_u8(body);
    info.statement_group_id = 0;
    for (int language = 0; language < info.num_languages && body.ok; ++language) {
        const uint8_t tag_and_dmf = read_u8(body);
        info.language_tag = tag_and_dmf >> 5;
        info.dmf = tag_and_dmf & 0x0F;
        if (info.dmf == 0x0C || info.dmf == 0x0D || info.dmf == 0x0E) {
            info.dc = read_u8(body);
        }
        for (uint8_t& letter : info.language_code) {
            letter = read_u8(body);
        }
        const uint8_t format = read_u8(body);
        info.format = format >> 4;
        info.tcs = (format >> 2) & 0x03;
        info.rollup_mode = format & 0x03;
        if (body.ok && info.language_code[0] == 'j' && info.language_code[1] == 'p' &&
            info.language_code[2] == 'n') {
            // Statement groups follow their management group: 0x01-0x08 (A), 0x21-0x28 (B).
            info.statement_group_id = static_cast<uint8_t>(group_id + info.language_tag + 1);
        }
    }
    info.data_unit_loop_length = static_cast<int32_t>(read_u24(body));
    if (!body.ok) {
        return false;
    }
    info.data_units_offset = static_cast<int32_t>(body.pos - body_start);
    entry.management = info;
    return true;
}

bool read_statement(CaptionEntry& entry, ByteCursor& body, const uint8_t* body_start)
{
    CaptionStatementInfo info;
    info.tmd = read_u8(body) >> 6;
    if (info.tmd == 1 || info.tmd == 2) {
        skip_time(body);
    }
    info.data_unit_loop_length = static_cast<int32_t>(read_u24(body));
    if (!body.ok) {
        return false;
    }
    info.data_units_offset = static_cast<int32_t>(body.pos - body_start);
    entry.statement = info;
    return true;
}

/// Decodes the statement body units among the data units at `units`, which start only before
/// `units_end`; the last non-empty text is stored (`stored` set). A unit whose size runs past
/// the data group ends the walk undecoded.
void walk_data_units(CaptionEntry& entry, ByteCursor units, const uint8_t* units_end, bool& stored)
{
    while (units.pos < units_end && !stopping()) {
        read_u8(units);  // unit_separator, 0x1F in conforming streams; not checked
        const uint8_t parameter = read_u8(units);
        const uint32_t size = read_u24(units);
        ByteCursor body = take_cursor(units, size);
        if (!units.ok) {
            return;
        }
        if (size != 0 && parameter == kStatementBody) {
            const std::string text = decode_arib_text(body.pos, size, entry.text_state);
            if (!text.empty()) {
                entry.text_state.track_changes = true;
                store_text(entry.text_state, text);
                stored = true;
            }
        }
    }
}

/// The data groups of one PES; `stored` tells whether a text was stored.
bool walk_data_groups(CaptionEntry& entry, const uint8_t* data, size_t length, size_t end_bound,
                      bool& stored)
{
    ByteCursor cur = make_cursor(data, length);
    const uint8_t data_identifier = read_u8(cur);
    const uint8_t private_stream_id = read_u8(cur);
    const uint8_t header_length = read_u8(cur) & 0x0F;
    skip_bytes(cur, header_length);
    if (!cur.ok || (data_identifier != 0x80 && data_identifier != 0x81) ||
        private_stream_id != 0xFF) {
        return false;
    }
    end_bound = end_bound < length ? end_bound : length;
    bool accepted = false;
    while (static_cast<size_t>(cur.pos - data) < end_bound && !stopping()) {
        const uint8_t* group_start = cur.pos;
        const uint8_t group_id = read_u8(cur) >> 2;  // version bits dropped
        skip_bytes(cur, 2);                          // link numbers, not used
        const uint16_t group_size = read_u16(cur);
        ByteCursor body = take_cursor(cur, group_size);
        const uint16_t crc = read_u16(cur);
        if (!cur.ok) {
            return accepted;  // the group or its CRC runs past the PES
        }
        if (crc16(group_start, kGroupHeaderSize + group_size) != crc) {
            return accepted;  // the rest of the PES is dropped; earlier texts stay
        }
        if (group_size == 0) {
            continue;
        }
        accepted = true;
        const uint8_t* body_start = body.pos;
        int32_t loop_length = 0;
        int32_t units_offset = 0;
        if (group_id == kManagementGroupA || group_id == kManagementGroupB) {
            if (!read_management(entry, group_id, body, body_start)) {
                return accepted;
            }
            loop_length = entry.management.data_unit_loop_length;
            units_offset = entry.management.data_units_offset;
        } else if (group_id == entry.management.statement_group_id) {
            if (!read_statement(entry, body, body_start)) {
                return accepted;
            }
            loop_length = entry.statement.data_unit_loop_length;
            units_offset = entry.statement.data_units_offset;
        } else {
            continue;  // another language, or no management data seen yet
        }
        // Units start before both the end of their loop and the end bound of the walk.
        const uint8_t* bound = data + end_bound;
        const uint8_t* units_start = body_start + units_offset;
        const uint8_t* loop_end =
            static_cast<size_t>(body.end - units_start) > static_cast<size_t>(loop_length)
                ? units_start + loop_length
                : body.end;
        walk_data_units(entry, body, loop_end < bound ? loop_end : bound, stored);
    }
    return accepted;
}

}  // namespace

bool walk_caption_pes_data(CaptionEntry& entry, const uint8_t* data, size_t length,
                           size_t end_bound)
{
    if (data == nullptr) {
        return false;
    }
    // A PES may store several texts, one per statement unit; it changed the caption when its
    // last text differs from the one held before it. Each store compares with the one before,
    // so a second, equal unit would otherwise hide a new caption (A, then B B: B unseen).
    const std::string held = entry.text_state.text;
    bool stored = false;
    const bool accepted = walk_data_groups(entry, data, length, end_bound, stored);
    if (stored) {
        entry.text_state.text_changed = held.empty() || held != entry.text_state.text;
    }
    return accepted;
}

bool walk_caption_pes(CaptionEntry& entry, const uint8_t* pes, size_t length)
{
    PesHeaderInfo header;
    if (pes == nullptr || !parse_pes_header(header, pes, length) ||
        header.packet_start_code_prefix != 1 || header.pes_packet_length == 0 ||
        !header.has_payload || header.payload_offset >= length) {
        return false;
    }
    // The walk ends at the PES start plus PES_packet_length, six bytes before the PES itself
    // ends; every data unit still begins before it.
    const size_t bound = header.pes_packet_length > header.payload_offset
                             ? header.pes_packet_length - header.payload_offset
                             : 0;
    return walk_caption_pes_data(entry, pes + header.payload_offset, length - header.payload_offset,
                                 bound);
}

}  // namespace qv
