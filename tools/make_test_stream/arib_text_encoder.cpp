#include "arib_text_encoder.h"

#include <array>
#include <cstdint>

namespace qv::test_stream {

namespace {

/// JIS X 0208 row and cell (as one 16-bit value) of the kanji the generator's texts use.
struct KanjiCode {
    char32_t code_point;
    uint16_t jis;
};
constexpr std::array<KanjiCode, 17> kKanji = {{
    {U'字', 0x3B7A}, {U'幕', 0x4B6B}, {U'試', 0x3B6E}, {U'験', 0x3833}, {U'放', 0x4A7C},
    {U'送', 0x4177}, {U'番', 0x4856}, {U'組', 0x4148}, {U'次', 0x3C21}, {U'日', 0x467C},
    {U'本', 0x4B5C}, {U'語', 0x386C}, {U'第', 0x4268}, {U'確', 0x334E}, {U'認', 0x4727},
    {U'表', 0x493D}, {U'示', 0x3C28},
}};

constexpr uint8_t kSpace = 0x20;
constexpr uint8_t kEsc = 0x1B;
constexpr uint8_t kLs0 = 0x0F;  // GL := G0
constexpr uint8_t kLs1 = 0x0E;  // GL := G1

enum class Slot { g0, g1, g2, g3 };

/// Reads one code point of UTF-8; false on a malformed sequence.
bool next_code_point(std::string_view text, size_t& position, char32_t& code_point)
{
    const auto byte = [&](size_t index) { return static_cast<uint8_t>(text[index]); };
    const uint8_t lead = byte(position);
    size_t extra = 0;
    if (lead < 0x80) {
        code_point = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        code_point = lead & 0x1F;
        extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        code_point = lead & 0x0F;
        extra = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        code_point = lead & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (text.size() - position <= extra) {
        return false;
    }
    for (size_t index = 1; index <= extra; ++index) {
        if ((byte(position + index) & 0xC0) != 0x80) {
            return false;
        }
        code_point = (code_point << 6) | (byte(position + index) & 0x3F);
    }
    position += extra + 1;
    return true;
}

/// The writer's view of the decoder state while it writes one text.
struct EncoderState {
    Slot gl = Slot::g0;
    Slot gr = Slot::g2;
    bool g3_katakana = false;
};

void invoke_gl(EncoderState& state, Slot slot, Bytes& out)
{
    if (state.gl != slot) {
        put_u8(out, slot == Slot::g0 ? kLs0 : kLs1);
        state.gl = slot;
    }
}

void invoke_gr(EncoderState& state, Slot slot, Bytes& out)
{
    if (slot == Slot::g3 && !state.g3_katakana) {
        // ESC 2/11 3/1: designate the katakana set into G3 (ARIB STD-B24 Part 2 Table 7-2).
        out.insert(out.end(), {kEsc, 0x2B, 0x31});
        state.g3_katakana = true;
    }
    if (state.gr != slot) {
        out.insert(out.end(), {kEsc, static_cast<uint8_t>(slot == Slot::g3 ? 0x7C : 0x7D)});
        state.gr = slot;  // LS3R or LS2R
    }
}

void put_kanji(EncoderState& state, uint16_t jis, Bytes& out)
{
    invoke_gl(state, Slot::g0, out);
    put_u16(out, jis);
}

}  // namespace

bool encode_arib_text(std::string_view text, TextProfile profile, Bytes& out)
{
    EncoderState state;
    state.g3_katakana = profile == TextProfile::si;
    Bytes encoded;
    size_t position = 0;
    while (position < text.size()) {
        char32_t code_point = 0;
        if (!next_code_point(text, position, code_point)) {
            return false;
        }
        if (code_point == U' ') {
            put_u8(encoded, kSpace);  // SP is a control code: no set needs invoking
        } else if (code_point > 0x20 && code_point < 0x7F && code_point != U'\\' &&
                   code_point != U'~') {
            invoke_gl(state, Slot::g1, encoded);
            put_u8(encoded, static_cast<uint32_t>(code_point));
        } else if (code_point >= 0x3041 && code_point <= 0x3093) {
            invoke_gr(state, Slot::g2, encoded);
            put_u8(encoded, static_cast<uint32_t>(code_point - 0x3041 + 0x21) | 0x80);
        } else if (code_point >= 0x30A1 && code_point <= 0x30F6) {
            invoke_gr(state, Slot::g3, encoded);
            put_u8(encoded, static_cast<uint32_t>(code_point - 0x30A1 + 0x21) | 0x80);
        } else if (code_point == 0x30FC) {
            // The long vowel mark sits at 7/9 of both kana sets; stay in whichever is invoked.
            if (state.gr != Slot::g2) {
                invoke_gr(state, Slot::g3, encoded);
            }
            put_u8(encoded, 0x79 | 0x80);
        } else if (code_point == 0x3000) {
            put_kanji(state, 0x2121, encoded);
        } else {
            bool found = false;
            for (const KanjiCode& kanji : kKanji) {
                if (kanji.code_point == code_point) {
                    put_kanji(state, kanji.jis, encoded);
                    found = true;
                    break;
                }
            }
            if (!found) {
                return false;
            }
        }
    }
    out.insert(out.end(), encoded.begin(), encoded.end());
    return true;
}

}  // namespace qv::test_stream
