// Graphic characters of the 8-unit code: one character through the set invoked into GL or GR
// (the code charts of ARIB STD-B24).
#include "arib/arib_char_tables.h"
#include "arib/arib_text_decoder.h"

namespace qv {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

void append_sjis(std::string& piece, uint16_t code)
{
    piece.push_back(static_cast<char>(code >> 8));
    piece.push_back(static_cast<char>(code & 0xFF));
}

/// "%02x" of a byte.
void append_hex_byte(std::string& piece, uint8_t value)
{
    piece.push_back(kHexDigits[value >> 4]);
    piece.push_back(kHexDigits[value & 0x0F]);
}

/// "0x%02x]" (1-byte sets) or "0x%02x%02x]" (2-byte sets) after an "[MF…;" prefix.
void append_code_suffix(std::string& piece, const uint8_t* code, int count)
{
    piece.append("0x");
    for (int index = 0; index < count; ++index) {
        append_hex_byte(piece, code[index]);
    }
    piece.push_back(']');
}

/// "[MF0x%02x;" with the final byte of a set that has no text form.
void append_unknown_set_prefix(std::string& piece, int32_t final_byte)
{
    piece.append("[MF0x");
    append_hex_byte(piece, static_cast<uint8_t>(final_byte));
    piece.push_back(';');
}

/// The table of a 1-byte graphic set that has a Shift_JIS form, or null.
const std::array<uint16_t, 96>* table_of(int32_t final_byte)
{
    switch (final_byte) {
        case 0x4A:  // alphanumeric
        case 0x36:  // proportional alphanumeric
            return &alphanumeric_table;
        case 0x30:  // hiragana
        case 0x37:  // proportional hiragana
            return &hiragana_table;
        case 0x31:  // katakana
        case 0x38:  // proportional katakana
            return &katakana_table;
        case 0x49:  // JIS X 0201 katakana
            return &jisx0201_katakana_table;
        default:
            return nullptr;
    }
}

/// A character byte reduced to 0x20-0x7E, or -1 for a byte that ends the text.
int reduce(uint8_t byte, bool& right_half)
{
    if (byte >= 0x20 && byte <= 0x7E) {
        right_half = false;
        return byte;
    }
    if (byte >= 0xA0 && byte <= 0xFE) {
        right_half = true;
        return byte - 0x80;
    }
    return -1;
}

void decode_one_byte(std::string& piece, const GraphicSetSlot& slot, uint8_t code,
                     AribTextState& state)
{
    if (slot.kind == kSetKindGraphic) {
        if (const auto* table = table_of(slot.final_byte)) {
            append_sjis(piece, (*table)[code - 0x20]);
            return;
        }
    }
    if (slot.final_byte == 0x70) {  // macro set: only the predefined macros are executed
        if (code >= 0x60 && code <= 0x6F) {
            const auto& macro = default_macro_table[code - 0x60];
            size_t position = 0;
            // The predefined macros hold only designations and invocations.
            (void)process_control_codes(piece, macro.data(), macro.size(), position, state);
        }
        return;
    }
    if (slot.kind == kSetKindGraphic && slot.final_byte >= 0x32 && slot.final_byte <= 0x35) {
        static constexpr const char* kMosaic[] = {"[MF_MOSAIC_A;", "[MF_MOSAIC_B;", "[MF_MOSAIC_C;",
                                                  "[MF_MOSAIC_D;"};
        piece.append(kMosaic[slot.final_byte - 0x32]);
    } else if (slot.kind == kSetKindDrcs && slot.final_byte >= 0x41 && slot.final_byte <= 0x4F) {
        const int number = slot.final_byte - 0x40;
        piece.append("[MF_DRCS_");
        if (number >= 10) {
            piece.push_back('1');
        }
        piece.push_back(static_cast<char>('0' + number % 10));
        piece.push_back(';');
    } else {
        append_unknown_set_prefix(piece, slot.final_byte);
    }
    append_code_suffix(piece, &code, 1);
}

void decode_two_byte(std::string& piece, const GraphicSetSlot& slot, const uint8_t code[2])
{
    const bool kanji =
        slot.kind == kSetKindGraphic && (slot.final_byte == 0x42 || slot.final_byte == 0x39 ||
                                         slot.final_byte == 0x3A || slot.final_byte == 0x3B);
    if (kanji) {
        if (code[0] < 0x75 || code[1] < 0x21) {
            append_sjis(piece, jis_to_shift_jis(code[0], code[1]));
            return;
        }
        // Rows 0x75-0x7E: ARIB additional kanji and symbols, outside Shift_JIS.
        if (const uint16_t code_point = find_additional_symbol(code[0], code[1])) {
            piece.append("&#x");
            append_hex_byte(piece, static_cast<uint8_t>(code_point >> 8));
            append_hex_byte(piece, static_cast<uint8_t>(code_point & 0xFF));
            piece.push_back(';');
            return;
        }
        append_unknown_set_prefix(piece, slot.final_byte);
    } else if (slot.kind == kSetKindDrcs && slot.final_byte == 0x40) {
        piece.append("[MF_DRCS_0;");
    } else {
        append_unknown_set_prefix(piece, slot.final_byte);
    }
    append_code_suffix(piece, code, 2);
}

}  // namespace

uint16_t find_additional_symbol(uint8_t row, uint8_t cell)
{
    if (cell < 0x21 || cell > 0x7E) {
        return 0;
    }
    for (size_t index = 0; index < kAdditionalSymbolRows.size(); ++index) {
        if (kAdditionalSymbolRows[index] == row) {
            return additional_symbol_table[index * kCellsPerRow + (cell - 0x21)];
        }
    }
    return 0;
}

void decode_graphic_character(std::string& piece, const uint8_t* bytes, size_t length,
                              size_t& position, AribTextState& state)
{
    if (position >= length) {
        return;
    }
    bool right_half = false;
    const int first = reduce(bytes[position], right_half);
    const int invoked = right_half ? state.gr : state.gl;
    if (first < 0 || invoked < 0 || invoked > 3 || state.slots[invoked].bytes_per_character < 1) {
        position = length;  // 0x7F, 0xFF or no set: the rest of the input is dropped
        return;
    }
    const GraphicSetSlot& slot = state.slots[invoked];
    if (slot.bytes_per_character == 1) {
        ++position;
        decode_one_byte(piece, slot, static_cast<uint8_t>(first), state);
        return;
    }
    if (length - position < 2) {  // a 2-byte character cut off by the end of the input
        ++position;
        return;
    }
    bool second_right_half = false;
    const int second = reduce(bytes[position + 1], second_right_half);
    if (second < 0) {
        position = length;
        return;
    }
    position += 2;
    const uint8_t code[2] = {static_cast<uint8_t>(first), static_cast<uint8_t>(second)};
    decode_two_byte(piece, slot, code);
}

}  // namespace qv
