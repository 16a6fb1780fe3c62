#include "subtitle/caption_encoder.h"

#include <cstdio>

#include "base/console_output.h"
#include "arib/crc16.h"
#include "subtitle/subtitle_reader.h"

namespace qv {
namespace {

constexpr uint8_t kCs = 0x0C;
constexpr uint8_t kAps = 0x1C;
constexpr uint8_t kCsi = 0x9B;
constexpr uint8_t kCol = 0x90;
constexpr uint8_t kSizeSmall = 0x88;
constexpr uint8_t kSizeMiddle = 0x89;
constexpr uint8_t kSizeNormal = 0x8A;
constexpr uint8_t kUnitParameterStatementBody = 0x20;  // data_unit_parameter
constexpr uint32_t kMax24Bits = 0xFFFFFF;

// Designations and invocations that open a run (ARIB STD-B24 code extension).
constexpr uint8_t kAsciiRun[] = {0x1B, 0x29, 0x4A, 0x0E};           // alphanumeric into G1, LS1
constexpr uint8_t kKatakanaRun[] = {0x1B, 0x2B, 0x49, 0x1B, 0x7C};  // JIS X 0201 into G3, LS3R
constexpr uint8_t kKanjiRun[] = {0x1B, 0x24, 0x42, 0x0F};           // kanji into G0, LS0
constexpr uint8_t kGetaMark[] = {0x22, 0x2E};                       // 〓, for what has no code

enum class ByteClass { none, kanji, control, high, ascii };

ByteClass classify(uint8_t byte)
{
    if (is_sjis_lead_byte(byte)) {
        return ByteClass::kanji;
    }
    if (byte < 0x20) {
        return ByteClass::control;
    }
    return byte >= 0x80 ? ByteClass::high : ByteClass::ascii;
}

template <size_t N>
void append(std::vector<uint8_t>& out, const uint8_t (&bytes)[N])
{
    out.insert(out.end(), bytes, bytes + N);
}

void append(std::vector<uint8_t>& out, const std::vector<uint8_t>& bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

void append_text(std::vector<uint8_t>& out, const char* format, int32_t first, int32_t second)
{
    char text[32] = {};
    const int length =
        std::snprintf(text, sizeof text, format, static_cast<int>(first), static_cast<int>(second));
    if (length > 0) {
        out.insert(out.end(), text, text + length);
    }
}

void append_u24(std::vector<uint8_t>& out, size_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

/// A 36-bit time (OTM, STM) followed by 4 reserved one-bits.
void append_time36(std::vector<uint8_t>& out, uint64_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 28));
    out.push_back(static_cast<uint8_t>(value >> 20));
    out.push_back(static_cast<uint8_t>(value >> 12));
    out.push_back(static_cast<uint8_t>(value >> 4));
    out.push_back(static_cast<uint8_t>(((value & 0x0F) << 4) | 0x0F));
}

/// The 5-byte time stamp field (ISO/IEC 13818-1 2.4.3.7) with its 4-bit prefix.
void append_time_stamp(std::vector<uint8_t>& out, uint8_t prefix, uint64_t value)
{
    out.push_back(static_cast<uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 0x01));
    out.push_back(static_cast<uint8_t>(value >> 22));
    out.push_back(static_cast<uint8_t>(((value >> 14) & 0xFE) | 0x01));
    out.push_back(static_cast<uint8_t>(value >> 7));
    out.push_back(static_cast<uint8_t>(((value << 1) & 0xFE) | 0x01));
}

bool is_trail_byte(uint8_t byte)
{
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC);
}

/// The JIS X 0208 row and cell (each + 0x21) of a Shift_JIS pair, or 〓 for a pair outside it.
void append_kanji(std::vector<uint8_t>& run, uint8_t lead, uint8_t trail)
{
    if (lead >= 0xF0 || !is_trail_byte(trail)) {
        append(run, kGetaMark);
        return;
    }
    const int e = lead < 0xA0 ? lead - 0x81 : lead - 0xC1;
    const int f = trail < 0x7F ? trail - 0x40 : trail - 0x41;
    const int n = e * 188 + f;
    run.push_back(static_cast<uint8_t>(n / 94 + 0x21));
    run.push_back(static_cast<uint8_t>(n % 94 + 0x21));
}

/// Display sizes of 0 or below cannot be shown; the defaults stand in for them.
int32_t display_width(const CaptionEncoderState& state)
{
    return state.display_width > 0 ? state.display_width : kDefaultDisplayWidth;
}
int32_t display_height(const CaptionEncoderState& state)
{
    return state.display_height > 0 ? state.display_height : kDefaultDisplayHeight;
}

/// Line breaks of the text, a final LF not counted.
int64_t count_lines(std::string_view text)
{
    int64_t lines = 0;
    for (const char c : text) {
        lines += c == '\n' ? 1 : 0;
    }
    return (!text.empty() && text.back() == '\n') ? lines - 1 : lines;
}

size_t character_length(std::string_view text, size_t at)
{
    return is_sjis_lead_byte(static_cast<uint8_t>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

/// First character position at or after `from` (a character boundary) where `needle` begins.
size_t find_by_character(std::string_view text, std::string_view needle, size_t from)
{
    for (size_t at = from; at < text.size(); at += character_length(text, at)) {
        if (text.substr(at, needle.size()) == needle) {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace

void write_active_position(const CaptionEncoderState& state, std::vector<uint8_t>& out)
{
    out.push_back(kAps);
    out.push_back(static_cast<uint8_t>(0x40 | (state.row & 0x0F)));
    out.push_back(static_cast<uint8_t>(0x40 | (state.column & 0x0F)));
}

void write_line_break(CaptionEncoderState& state, std::vector<uint8_t>& out)
{
    state.column = 0;
    state.row = (state.row + 1) & 0x0F;
    write_active_position(state, out);
}

void write_caption_settings(CaptionEncoderState& state, std::vector<uint8_t>& body)
{
    state.column = state.column_base;
    state.row = state.row_base;
    state.colour = state.colour_base;
    state.col_param = state.col_param_base;
    state.size = state.size_base;
    body.push_back(kCs);
    body.push_back(kCsi);
    append_text(body, "%d;%d V", display_width(state), display_height(state));  // SDF
    body.push_back(kCsi);
    append_text(body, "%d;%d _", state.position_x, state.position_y);  // SDP
    write_active_position(state, body);
    body.push_back(static_cast<uint8_t>(state.colour));
    body.push_back(kCol);
    body.push_back(static_cast<uint8_t>(state.col_param));
    body.push_back(state.size == 0 ? kSizeSmall : state.size == 1 ? kSizeMiddle : kSizeNormal);
}

void encode_caption_text(CaptionEncoderState& state, std::string_view text,
                         std::vector<uint8_t>& body)
{
    std::vector<uint8_t> run;
    ByteClass previous = ByteClass::none;
    size_t at = 0;
    while (at < text.size() && stop_requested.load(std::memory_order_relaxed) == 0) {
        const auto byte = static_cast<uint8_t>(text[at]);
        const ByteClass kind = classify(byte);
        if (kind != previous) {
            append(body, run);
            run.clear();
        }
        previous = kind;
        ++at;
        switch (kind) {
            case ByteClass::ascii:
                if (byte != 0x7F) {
                    if (run.empty()) {
                        append(run, kAsciiRun);
                    }
                    run.push_back(byte);
                }
                break;
            case ByteClass::high:
                if (byte >= 0xA1 && byte <= 0xDF) {
                    if (run.empty()) {
                        append(run, kKatakanaRun);
                    }
                    run.push_back(byte);
                }
                break;
            case ByteClass::kanji:
                if (at >= text.size()) {
                    return;  // a lead byte without its trail byte
                }
                if (run.empty()) {
                    append(run, kKanjiRun);
                }
                append_kanji(run, byte, static_cast<uint8_t>(text[at]));
                ++at;
                break;
            default:
                if (byte == '\n') {
                    write_line_break(state, run);
                }
                break;
        }
    }
    append(body, run);
}

void remove_external_character_markers(std::string& text)
{
    static constexpr std::string_view kMarkerOpen = "[\x8A\x4F:";  // "[外:"
    for (;;) {
        const size_t open = find_by_character(text, kMarkerOpen, 0);
        if (open == std::string::npos) {
            return;
        }
        const size_t close = find_by_character(text, "]", open + kMarkerOpen.size());
        if (close == std::string::npos) {
            return;
        }
        const std::string marker = text.substr(open, close + 1 - open);
        std::string kept;
        kept.reserve(text.size());
        for (size_t at = 0; at < text.size();) {
            if (text.compare(at, marker.size(), marker) == 0) {
                at += marker.size();
                continue;
            }
            const size_t length = character_length(text, at);
            kept.append(text, at, length);
            at += length;
        }
        text.swap(kept);
    }
}

std::vector<uint8_t> build_statement_body(CaptionEncoderState& state, std::string_view text)
{
    std::vector<uint8_t> body;
    write_caption_settings(state, body);
    append(body, state.extra_bytes);
    if (text.empty()) {
        return body;  // a clearing statement
    }
    // Short texts sit low on the screen (from row 6), longer ones start at the top. A display
    // height below 8 leaves no row height to divide by, and counts as no offset.
    const int32_t height = display_height(state);
    const int64_t top = height < 8 ? 0 : state.position_y / (height / 8);
    state.row = (top + state.row + count_lines(text) <= 8) ? 6 : 0;
    write_active_position(state, body);
    std::string cleaned(text);
    remove_external_character_markers(cleaned);
    encode_caption_text(state, cleaned, body);
    return body;
}

std::vector<uint8_t> build_data_unit(const std::vector<uint8_t>& body)
{
    std::vector<uint8_t> unit;
    if (body.empty() || body.size() > kMax24Bits) {
        return unit;
    }
    unit.reserve(5 + body.size());
    unit.push_back(0x1F);  // unit_separator
    unit.push_back(kUnitParameterStatementBody);
    append_u24(unit, body.size());
    append(unit, body);
    return unit;
}

std::vector<uint8_t> build_management_data(const std::vector<uint8_t>& units, uint8_t tmd,
                                           uint64_t otm)
{
    std::vector<uint8_t> data;
    if (units.empty() || units.size() > kMax24Bits) {
        return data;
    }
    data.push_back(static_cast<uint8_t>((tmd << 6) | 0x3F));
    if (tmd == 2) {
        append_time36(data, otm);
    }
    data.push_back(1);     // num_languages
    data.push_back(0x10);  // language_tag 0, DMF 0 (no DC byte)
    data.insert(data.end(), {'j', 'p', 'n'});
    data.push_back(0x80);  // Format 8, TCS 0, rollup_mode 0
    append_u24(data, units.size());
    append(data, units);
    return data;
}

std::vector<uint8_t> build_statement_data(const std::vector<uint8_t>& units, uint8_t tmd,
                                          uint64_t stm)
{
    std::vector<uint8_t> data;
    if (units.empty() || units.size() > kMax24Bits) {
        return data;
    }
    data.push_back(static_cast<uint8_t>((tmd << 6) | 0x3F));
    if (tmd == 1 || tmd == 2) {
        append_time36(data, stm);
    }
    append_u24(data, units.size());
    append(data, units);
    return data;
}

std::vector<uint8_t> build_data_group(uint8_t data_group_id, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> group;
    if (data.empty() || data.size() > 0xFFFF) {
        return group;
    }
    group.reserve(5 + data.size() + 2);
    group.push_back(static_cast<uint8_t>(data_group_id << 2));  // version 0
    group.push_back(0);                                         // data_group_link_number
    group.push_back(0);                                         // last_data_group_link_number
    group.push_back(static_cast<uint8_t>(data.size() >> 8));
    group.push_back(static_cast<uint8_t>(data.size()));
    append(group, data);
    const uint16_t crc = crc16(group.data(), group.size());
    group.push_back(static_cast<uint8_t>(crc >> 8));
    group.push_back(static_cast<uint8_t>(crc));
    return group;
}

std::vector<uint8_t> build_pes_data(const std::vector<uint8_t>& group, bool superimpose)
{
    std::vector<uint8_t> data;
    if (group.empty()) {
        return data;
    }
    data.reserve(3 + group.size());
    data.push_back(superimpose ? 0x81 : 0x80);  // data_identifier
    data.push_back(0xFF);                       // private_stream_id
    data.push_back(0xF0);                       // PES_data_packet_header_length 0
    append(data, group);
    return data;
}

std::vector<uint8_t> build_pes_packet(const std::vector<uint8_t>& data, const PesRequest& request)
{
    std::vector<uint8_t> pes;
    if (data.empty()) {
        return pes;
    }
    const uint8_t id = request.stream_id;
    const bool no_header = id == 0xBC || id == kStreamIdPrivate2 || (id >= 0xF0 && id <= 0xF2) ||
                           id == 0xF8 || id == 0xFF;
    pes = {0x00, 0x00, 0x01, id, 0x00, 0x00};
    if (id == kStreamIdPadding) {
        pes.insert(pes.end(), data.size(), 0xFF);
    } else if (no_header) {
        append(pes, data);
    } else {
        const bool pts = request.pts.has_value();
        const bool dts = pts && request.dts.has_value();
        pes.push_back(0x80);  // marker bits '10', no scrambling, priority or copyright flags
        pes.push_back(static_cast<uint8_t>(dts ? 0xC0 : pts ? 0x80 : 0x00));
        pes.push_back(static_cast<uint8_t>(dts ? 10 : pts ? 5 : 0));
        if (pts) {
            append_time_stamp(pes, dts ? 0x3 : 0x2, *request.pts);
        }
        if (dts) {
            append_time_stamp(pes, 0x1, *request.dts);
        }
        append(pes, data);
    }
    const size_t length = pes.size() - 6;
    if (length > 0xFFFF) {
        return {};
    }
    pes[4] = static_cast<uint8_t>(length >> 8);
    pes[5] = static_cast<uint8_t>(length);
    return pes;
}

std::vector<uint8_t> build_caption_pes(CaptionEncoderState& state, std::string_view text)
{
    const std::vector<uint8_t> unit = build_data_unit(build_statement_body(state, text));
    const std::vector<uint8_t> data =
        state.management ? build_management_data(unit) : build_statement_data(unit);
    const std::vector<uint8_t> group =
        build_data_group(state.management ? kDataGroupManagement : kDataGroupStatement, data);
    PesRequest request;
    if (state.superimpose) {
        request.stream_id = kStreamIdPrivate2;
    } else {
        request.pts = static_cast<uint64_t>(state.start_time);
    }
    return build_pes_packet(build_pes_data(group, state.superimpose != 0), request);
}

}  // namespace qv
