// C0 and C1 control codes and escape sequences of the ARIB STD-B24 8-unit code (ISO/IEC 2022
// style code extension plus the caption control codes). Layout and rendering controls are consumed
// without effect; only the codes that change designations or invocations act, and a few leave a
// visible mark.
#include <string_view>

#include "arib/arib_text_decoder.h"

namespace qv {
namespace {

/// Moves `position` by `count` bytes, or to the end when fewer remain (a cut-off sequence).
void skip(size_t length, size_t& position, size_t count)
{
    position = (length - position > count) ? position + count : length;
}

bool is_kanji_final(uint8_t final_byte)
{
    return final_byte == 0x39 || final_byte == 0x3A || final_byte == 0x3B || final_byte == 0x42;
}

bool is_one_byte_graphic_final(uint8_t final_byte)
{
    return (final_byte >= 0x30 && final_byte <= 0x38) || final_byte == 0x49 || final_byte == 0x4A;
}

void designate(AribTextState& state, int slot, uint8_t final_byte, int32_t kind)
{
    state.slots[slot] = GraphicSetSlot{final_byte, kind, bytes_per_character(final_byte, kind)};
}

/// First index in [from, length) holding `value`, or `length`.
size_t find_byte(const uint8_t* bytes, size_t length, size_t from, uint8_t value)
{
    for (size_t at = from; at < length; ++at) {
        if (bytes[at] == value) {
            return at;
        }
    }
    return length;
}

/// Value of a CSI parameter text as a C library would read a decimal number from it.
int16_t parse_decimal(const uint8_t* text, size_t length)
{
    size_t at = 0;
    bool negative = false;
    if (at < length && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    int32_t value = 0;
    for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at) {
        if (value < 1000000) {  // past int16 anyway; keeps the sum from overflowing
            value = value * 10 + (text[at] - '0');
        }
    }
    return static_cast<int16_t>(negative ? -value : value);
}

/// CSI (0x9B) at `position`. Only SWF with one parameter acts: it sets the writing format and
/// re-initialises the designations, as ARIB STD-B24 has it.
void process_csi(const uint8_t* bytes, size_t length, size_t& position, AribTextState& state)
{
    const size_t first = position + 1;
    if (first >= length) {
        position = length;
        return;
    }
    const uint8_t next = bytes[first];
    if (next == 0x5B || next == 0x5C || next == 0x6F) {  // PLD, PLU, SCS
        position = first + 1;
        return;
    }
    const size_t intermediate = find_byte(bytes, length, first, 0x20);
    if (intermediate + 1 >= length) {  // no intermediate byte, or no final byte after it
        position = length;
        return;
    }
    const uint8_t final_byte = bytes[intermediate + 1];
    position = intermediate + 2;
    const std::string_view parameters(reinterpret_cast<const char*>(bytes + first),
                                      intermediate - first);
    if (final_byte == 0x53 && !parameters.empty() &&
        parameters.find(';') == std::string_view::npos) {
        state.writing_format = parse_decimal(bytes + first, parameters.size());
        reset_designations(state);
    }
}

/// The bytes of an escape sequence, counted from its ESC; -1 where the input has ended.
struct EscapeBytes {
    const uint8_t* bytes;
    size_t length;
    size_t position;
    int operator[](size_t offset) const
    {
        return position + offset < length ? bytes[position + offset] : -1;
    }
};

/// ESC 0x24 [I] F designates a 2-byte set, ESC 0x24 I 0x20 0x40 the DRCS-0 set. Returns the
/// sequence's length, 0 when the input ends inside it.
size_t designate_two_byte_set(const EscapeBytes& at, AribTextState& state)
{
    const int b2 = at[2];
    if (b2 < 0) {
        return 0;
    }
    if (b2 < 0x28 || b2 > 0x2B) {
        if (is_kanji_final(static_cast<uint8_t>(b2))) {
            designate(state, 0, static_cast<uint8_t>(b2), kSetKindGraphic);
        }
        return 3;
    }
    const int slot = b2 - 0x28;
    const int b3 = at[3];
    if (b3 < 0) {
        return 0;
    }
    if (b3 == 0x20) {
        const int b4 = at[4];
        if (b4 < 0) {
            return 0;
        }
        if (b4 == 0x40) {
            designate(state, slot, 0x40, kSetKindDrcs);
        }
        return 5;
    }
    // ESC 0x24 0x28 F is not a G0 designation: G0 takes the short form ESC 0x24 F.
    if (slot != 0 && is_kanji_final(static_cast<uint8_t>(b3))) {
        designate(state, slot, static_cast<uint8_t>(b3), kSetKindGraphic);
    }
    return 4;
}

/// ESC I F designates a 1-byte set, ESC I 0x20 F a DRCS set. Returns the sequence's length, 0
/// when the input ends inside it.
size_t designate_one_byte_set(const EscapeBytes& at, AribTextState& state)
{
    const int slot = at[1] - 0x28;
    const int b2 = at[2];
    if (b2 < 0) {
        return 0;
    }
    if (b2 == 0x20) {
        const int b3 = at[3];
        if (b3 < 0) {
            return 0;
        }
        if ((b3 >= 0x41 && b3 <= 0x4F) || b3 == 0x70) {
            designate(state, slot, static_cast<uint8_t>(b3), kSetKindDrcs);
        }
        return 4;
    }
    if (is_one_byte_graphic_final(static_cast<uint8_t>(b2))) {
        designate(state, slot, static_cast<uint8_t>(b2), kSetKindGraphic);
    }
    return 3;
}

/// ESC F of a locking shift (LS2, LS3, LS1R, LS2R, LS3R); any other final byte does nothing.
void apply_locking_shift(int final_byte, AribTextState& state)
{
    switch (final_byte) {
        case 0x6E:  // LS2
            state.gl = 2;
            state.saved_gl = kNoSlot;
            break;
        case 0x6F:  // LS3
            state.gl = 3;
            state.saved_gl = kNoSlot;
            break;
        case 0x7E:  // LS1R
            state.gr = 1;
            state.saved_gr = kNoSlot;
            break;
        case 0x7D:  // LS2R
            state.gr = 2;
            state.saved_gr = kNoSlot;
            break;
        case 0x7C:  // LS3R
            state.gr = 3;
            state.saved_gr = kNoSlot;
            break;
        default:
            break;
    }
}

/// MACRO (0x95) at `position`: a definition is stepped over up to its end 0x95 0x4F.
void skip_macro_definition(const uint8_t* bytes, size_t length, size_t& position)
{
    for (size_t at = position + 2; at + 1 < length; ++at) {
        if (bytes[at] == 0x95 && bytes[at + 1] == 0x4F) {
            position = at + 2;
            return;
        }
    }
    position = length;
}

/// TIME (0x9D) at `position`: the wait form 0x9D 0x28 P, or a time with parameters up to the
/// intermediate byte 0x20 and its final byte.
void skip_time_control(const uint8_t* bytes, size_t length, size_t& position)
{
    if (position + 1 >= length) {
        position = length;
    } else if (bytes[position + 1] == 0x28) {
        skip(length, position, 3);
    } else {
        position = find_byte(bytes, length, position + 1, 0x20);
        skip(length, position, 2);
    }
}

}  // namespace

void process_escape(const uint8_t* bytes, size_t length, size_t& position, AribTextState& state)
{
    const EscapeBytes at{bytes, length, position};
    const int b1 = at[1];
    size_t sequence = 2;
    if (b1 < 0) {
        sequence = 0;
    } else if (b1 == 0x24) {
        sequence = designate_two_byte_set(at, state);
    } else if (b1 >= 0x28 && b1 <= 0x2B) {
        sequence = designate_one_byte_set(at, state);
    } else {
        apply_locking_shift(b1, state);
    }
    position = sequence == 0 ? length : position + sequence;
}

bool process_control_codes(std::string& piece, const uint8_t* bytes, size_t length,
                           size_t& position, AribTextState& state)
{
    while (position < length) {
        const uint8_t code = bytes[position];
        if (code > 0x20 && (code < 0x80 || code > 0x9F)) {
            return true;
        }
        switch (code) {
            case 0x08:  // APB
                piece.append("0x08");
                skip(length, position, 1);
                break;
            case 0x09:  // APF
                piece.append("0x09");
                skip(length, position, 1);
                break;
            case 0x0A:  // APD: a visible mark, the console line is not broken
                piece.append("\\n");
                skip(length, position, 1);
                break;
            case 0x0B:  // APU
                piece.append("0x0B");
                skip(length, position, 1);
                break;
            case 0x0C:  // CS
                reset_designations(state);
                skip(length, position, 1);
                break;
            case 0x0D:  // APR
                piece.append("\\r");
                skip(length, position, 1);
                break;
            case 0x0E:  // LS1
                state.gl = 1;
                state.saved_gl = kNoSlot;
                skip(length, position, 1);
                break;
            case 0x0F:  // LS0
                state.gl = 0;
                state.saved_gl = kNoSlot;
                skip(length, position, 1);
                break;
            case 0x16:  // PAPF with its parameter
                skip(length, position, 2);
                break;
            case 0x19:  // SS2
                state.saved_gl = state.gl;
                state.gl = 2;
                skip(length, position, 1);
                break;
            case 0x1B:  // ESC
                process_escape(bytes, length, position, state);
                break;
            case 0x1C:  // APS with row and column
                skip(length, position, 3);
                break;
            case 0x1D:  // SS3
                state.saved_gl = state.gl;
                state.gl = 3;
                skip(length, position, 1);
                break;
            case 0x20:  // SP
                piece.push_back(' ');
                skip(length, position, 1);
                break;
            case 0x8B:  // SZX
            case 0x91:  // FLC
            case 0x93:  // POL
            case 0x94:  // WMM
            case 0x97:  // HLC
            case 0x98:  // RPC
                skip(length, position, 2);
                break;
            case 0x90:  // COL
            case 0x92:  // CDC: a palette form with the intermediate byte 0x20 takes one more
                if (position + 1 >= length) {
                    position = length;
                } else {
                    skip(length, position, bytes[position + 1] == 0x20 ? 3 : 2);
                }
                break;
            case 0x95:  // MACRO definition
                skip_macro_definition(bytes, length, position);
                break;
            case 0x9B:  // CSI
                process_csi(bytes, length, position, state);
                break;
            case 0x9D:  // TIME
                skip_time_control(bytes, length, position);
                break;
            default:  // other C0 and C1 codes, colours and sizes among them
                skip(length, position, 1);
                break;
        }
    }
    return false;
}

}  // namespace qv
