#include "arib/arib_text_decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/caption_builders.h"

namespace qv {
namespace {

using test::byte_string;
using test::Bytes;
using test::same_bytes;

AribTextState state_for(uint16_t profile)
{
    AribTextState state;
    state.text_profile = profile;
    reset_designations(state);
    return state;
}

/// Decodes from a heap copy of exactly `input.size()` bytes, so that AddressSanitizer sees any
/// read past the end.
std::string decode(const Bytes& input, AribTextState& state)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[input.size() ? input.size() : 1]);
    std::copy(input.begin(), input.end(), exact.get());
    return decode_arib_text(exact.get(), static_cast<uint32_t>(input.size()), state);
}

struct DecodeCase {
    const char* name;
    uint16_t profile;
    Bytes input;
    std::string expected;  // Shift_JIS bytes
};

void run_cases(const std::vector<DecodeCase>& cases)
{
    for (const DecodeCase& c : cases) {
        AribTextState state = state_for(c.profile);
        EXPECT_TRUE(same_bytes(decode(c.input, state), c.expected)) << c.name;
    }
}

const std::string kAkanji = byte_string({0x88, 0x9F});  // 亜 (JIS 0x3021)

TEST(AribGraphicSets, EachKindOfSetWritesItsForm)
{
    run_cases({
        {"kanji via GL after ESC $ B", 0, {0x1B, 0x24, 0x42, 0x30, 0x21}, kAkanji},
        {"kanji via GR after ESC $ ) B and LS1R",
         0,
         {0x1B, 0x24, 0x29, 0x42, 0x1B, 0x7E, 0xB0, 0xA1},
         kAkanji},
        // あ い: GR holds hiragana in the full-service caption profile
        {"hiragana in GR, profile 0", 0, {0xA2, 0xA4}, byte_string({0x82, 0xA0, 0x82, 0xA2})},
        // Ａ ｚ ￥ ￣ through G1 (alphanumeric) after LS1
        {"alphanumeric after LS1",
         0,
         {0x0E, 0x41, 0x7A, 0x5C, 0x7E},
         byte_string({0x82, 0x60, 0x82, 0x9A, 0x81, 0x8F, 0x81, 0x50})},
        // ァ ヶ ・ from the katakana set
        {"katakana",
         0,
         {0x1B, 0x28, 0x31, 0x21, 0x76, 0x7E},
         byte_string({0x83, 0x40, 0x83, 0x96, 0x81, 0x45})},
        // ア ゜ and the ideographic space of 0x60 in JIS X 0201 katakana
        {"JIS X 0201 katakana",
         0,
         {0x1B, 0x28, 0x49, 0x31, 0x5F, 0x60},
         byte_string({0x83, 0x41, 0x81, 0x4B, 0x81, 0x40})},
        {"proportional hiragana", 0, {0x1B, 0x28, 0x37, 0x22}, byte_string({0x82, 0xA0})},
        {"mosaic A", 0, {0x1B, 0x28, 0x32, 0x21}, "[MF_MOSAIC_A;0x21]"},
        {"mosaic D in GR", 0, {0x1B, 0x2A, 0x35, 0xFE}, "[MF_MOSAIC_D;0x7e]"},
        {"DRCS-1", 0, {0x1B, 0x28, 0x20, 0x41, 0x41}, "[MF_DRCS_1;0x41]"},
        {"DRCS with final 0x4A is not alphanumeric",
         0,
         {0x1B, 0x28, 0x20, 0x4A, 0x21},
         "[MF_DRCS_10;0x21]"},
        {"DRCS-15", 0, {0x1B, 0x28, 0x20, 0x4F, 0x7E}, "[MF_DRCS_15;0x7e]"},
        {"DRCS-0, 2-byte", 0, {0x1B, 0x24, 0x28, 0x20, 0x40, 0x21, 0x22}, "[MF_DRCS_0;0x2122]"},
        {"additional symbol 7A/50", 0, {0x7A, 0x50}, "&#xe0f8;"},
        {"additional kanji 75/21", 0, {0x75, 0x21}, "&#x3402;"},
        {"additional symbol 7D/50 (one half)", 0, {0x7D, 0x50}, "&#x00bd;"},
        {"rows 0x77-0x79 have no entries",
         0,
         {0x77, 0x21, 0x79, 0x7E},
         "[MF0x39;0x7721][MF0x39;0x797e]"},
        {"row 0x74 is still JIS X 0208", 0, {0x74, 0x21}, byte_string({0xEA, 0x9F})},
        // cell 0xA0 in GR reaches cell 0x20: the arithmetic gives 0x819E
        {"kanji cell 0x20 through GR", 1, {0xA1, 0xA0}, byte_string({0x81, 0x9E})},
        {"macro 0x60 writes nothing", 0, {0x1D, 0x60}, ""},
        {"macro code outside 0x60-0x6F writes nothing", 0, {0x1D, 0x41, 0x30, 0x21}, kAkanji},
    });
}

TEST(AribGraphicSets, EndOfTextBytesAndCutOffCharacters)
{
    run_cases({
        {"0x7F drops the rest", 0, {0x30, 0x21, 0x7F, 0x30, 0x22}, kAkanji},
        {"0xFF drops the rest", 0, {0x30, 0x21, 0xFF, 0x30, 0x22}, kAkanji},
        {"2-byte set with one byte left", 0, {0x30, 0x21, 0x30}, kAkanji},
        {"second byte 0x7F ends the text", 0, {0x30, 0x21, 0x30, 0x7F, 0x30, 0x22}, kAkanji},
        {"second byte a control code ends the text", 0, {0x30, 0x21, 0x30, 0x0A}, kAkanji},
    });
}

TEST(AribControlCodes, VisibleMarksAndSkippedParameters)
{
    run_cases({
        {"APB APF APU", 0, {0x08, 0x09, 0x0B}, "0x080x090x0B"},
        // Ａ, backslash n, Ｂ: APD is a mark in the text, not a line break
        {"APD in a statement",
         0,
         {0x0E, 0x41, 0x0A, 0x42},
         byte_string({0x82, 0x60, 0x5C, 0x6E, 0x82, 0x61})},
        {"APR", 0, {0x0D}, "\\r"},
        {"SP", 0, {0x20, 0x20}, "  "},
        {"PAPF takes one parameter", 0, {0x16, 0x41, 0x30, 0x21}, kAkanji},
        {"APS takes two parameters", 0, {0x1C, 0x41, 0x42, 0x30, 0x21}, kAkanji},
        {"colours and sizes take no parameter",
         0,
         {0x80, 0x87, 0x88, 0x89, 0x8A, 0x30, 0x21},
         kAkanji},
        {"SZX FLC POL WMM HLC RPC take one",
         0,
         {0x8B, 0x41, 0x91, 0x41, 0x93, 0x41, 0x94, 0x41, 0x97, 0x41, 0x98, 0x41, 0x30, 0x21},
         kAkanji},
        {"COL with one parameter", 0, {0x90, 0x48, 0x30, 0x21}, kAkanji},
        {"COL palette form with 0x20", 0, {0x90, 0x20, 0x41, 0x30, 0x21}, kAkanji},
        {"CDC palette form with 0x20", 0, {0x92, 0x20, 0x41, 0x30, 0x21}, kAkanji},
        {"MACRO definition skipped to 0x95 0x4F",
         0,
         {0x95, 0x40, 0x30, 0x22, 0x95, 0x4F, 0x30, 0x21},
         kAkanji},
        // the pair is looked for from the third byte on: 0x95 0x4F right after 0x95 is the
        // macro code, not the end
        {"MACRO end searched from the third byte",
         0,
         {0x95, 0x4F, 0x30, 0x22, 0x95, 0x4F, 0x30, 0x21},
         kAkanji},
        {"MACRO without end drops the rest", 0, {0x30, 0x21, 0x95, 0x40, 0x30, 0x22}, kAkanji},
        {"TIME 0x28 form", 0, {0x9D, 0x28, 0x41, 0x30, 0x21}, kAkanji},
        {"TIME other form up to 0x20 and its final",
         0,
         {0x9D, 0x29, 0x31, 0x32, 0x20, 0x43, 0x30, 0x21},
         kAkanji},
        {"CSI PLD is two bytes", 0, {0x9B, 0x5B, 0x30, 0x21}, kAkanji},
        {"CSI with parameters, 0x20 and final",
         0,
         {0x9B, 0x31, 0x32, 0x3B, 0x33, 0x20, 0x61, 0x30, 0x21},
         kAkanji},
        {"other C0 and C1 codes", 0, {0x00, 0x07, 0x18, 0x1E, 0x1F, 0x9F, 0x30, 0x21}, kAkanji},
    });
}

TEST(AribControlCodes, InvocationsAndSingleShifts)
{
    run_cases({
        // あ (G2 hiragana by SS2), then 亜 again from G0
        {"SS2 decodes one character from G2",
         0,
         {0x19, 0x22, 0x30, 0x21},
         byte_string({0x82, 0xA0, 0x88, 0x9F})},
        {"SS3 in the SI profile uses katakana",
         kProfileSiText,
         {0x1D, 0x21, 0x30, 0x21},
         byte_string({0x83, 0x40, 0x88, 0x9F})},
        {"LS1 then LS0", 0, {0x0E, 0x41, 0x0F, 0x30, 0x21}, byte_string({0x82, 0x60, 0x88, 0x9F})},
        {"LS2", 0, {0x1B, 0x6E, 0x22}, byte_string({0x82, 0xA0})},
        {"LS3 into the macro set", 0, {0x1B, 0x6F, 0x60, 0x30, 0x21}, kAkanji},
        {"LS1R", 0, {0x1B, 0x7E, 0xC1}, byte_string({0x82, 0x60})},
        {"LS3R then LS2R", 0, {0x1B, 0x7C, 0x1B, 0x7D, 0xA2}, byte_string({0x82, 0xA0})},
        {"CS restores the designations", 0, {0x1B, 0x28, 0x31, 0x0C, 0x30, 0x21}, kAkanji},
        // G1 becomes katakana, macro 0x60 puts alphanumeric back into G1: Ａ
        {"macro 0x60 re-designates",
         0,
         {0x1B, 0x29, 0x31, 0x1D, 0x60, 0x0E, 0x41},
         byte_string({0x82, 0x60})},
        {"profile 1 holds Kanji in GR", kProfilePartialService, {0xB0, 0xA1}, kAkanji},
    });
}

TEST(AribEscapes, DesignationsAndSequencesWithoutEffect)
{
    run_cases({
        {"ESC $ ; (kanji into G0)", 0, {0x1B, 0x28, 0x31, 0x1B, 0x24, 0x3B, 0x30, 0x21}, kAkanji},
        {"ESC $ with another final changes nothing", 0, {0x1B, 0x24, 0x41, 0x30, 0x21}, kAkanji},
        {"ESC $ ( F is four bytes without effect",
         0,
         {0x1B, 0x24, 0x28, 0x42, 0x30, 0x21},
         kAkanji},
        {"ESC $ ( SP other is five bytes", 0, {0x1B, 0x24, 0x28, 0x20, 0x41, 0x30, 0x21}, kAkanji},
        {"ESC $ * SP @ puts DRCS-0 into G2",
         0,
         {0x1B, 0x24, 0x2A, 0x20, 0x40, 0xA1, 0xA2},
         "[MF_DRCS_0;0x2122]"},
        {"ESC $ + SP other is five bytes", 0, {0x1B, 0x24, 0x2B, 0x20, 0x41, 0x30, 0x21}, kAkanji},
        {"ESC $ ) other is four bytes", 0, {0x1B, 0x24, 0x29, 0x41, 0x30, 0x21}, kAkanji},
        {"ESC ( with another final is three bytes", 0, {0x1B, 0x28, 0x42, 0x30, 0x21}, kAkanji},
        {"ESC ( SP other is four bytes", 0, {0x1B, 0x28, 0x20, 0x50, 0x30, 0x21}, kAkanji},
        {"ESC ( SP p puts the macro set into G0",
         0,
         {0x1B, 0x28, 0x20, 0x70, 0x60, 0x30, 0x21},
         kAkanji},
        {"ESC with an unknown byte is two bytes", 0, {0x1B, 0x41, 0x30, 0x21}, kAkanji},
    });
}

TEST(AribCutOffSequences, NeverReadPastTheEndAndDropThePartialSequence)
{
    const std::vector<Bytes> tails = {
        {0x1B},
        {0x1B, 0x24},
        {0x1B, 0x24, 0x29},
        {0x1B, 0x24, 0x29, 0x20},
        {0x1B, 0x28},
        {0x1B, 0x28, 0x20},
        {0x1B, 0x24, 0x28},
        {0x1B, 0x24, 0x28, 0x20},
        {0x90},
        {0x90, 0x20},
        {0x92},
        {0x9B},
        {0x9B, 0x31},
        {0x9B, 0x31, 0x20},
        {0x9D},
        {0x9D, 0x29, 0x31},
        {0x9D, 0x29, 0x20},
        {0x95},
        {0x95, 0x40, 0x95},
        {0x16},
        {0x1C, 0x41},
        {0x8B},
    };
    for (const Bytes& tail : tails) {
        AribTextState state = state_for(0);
        Bytes input = {0x30, 0x21};
        input.insert(input.end(), tail.begin(), tail.end());
        EXPECT_TRUE(same_bytes(decode(input, state), kAkanji)) << "tail of " << tail.size();
        EXPECT_EQ(state.writing_format, 0);
    }
}

TEST(AribWritingFormat, SwfSetsTheFormatAndResetsTheDesignations)
{
    AribTextState state = state_for(0);
    // LS1 leaves GL on G1; SWF 7 puts it back on G0
    EXPECT_TRUE(same_bytes(decode({0x0E, 0x9B, 0x37, 0x20, 0x53, 0x30, 0x21}, state), kAkanji));
    EXPECT_EQ(state.writing_format, 7);
    EXPECT_EQ(state.gl, 0);

    // SWF 14 in profile 0: G0 is DRCS-1 and G2 the Kanji set
    EXPECT_TRUE(same_bytes(decode({0x9B, 0x31, 0x34, 0x20, 0x53, 0x41, 0xB0, 0xA1}, state),
                           "[MF_DRCS_1;0x41]" + kAkanji));
    EXPECT_EQ(state.writing_format, 14);

    // several parameters, an empty parameter or another final: no effect
    for (const Bytes& input : {Bytes{0x9B, 0x37, 0x3B, 0x31, 0x20, 0x53}, Bytes{0x9B, 0x20, 0x53},
                               Bytes{0x9B, 0x37, 0x20, 0x54}}) {
        EXPECT_EQ(decode(input, state), "");
        EXPECT_EQ(state.writing_format, 14);
    }
}

TEST(AribTextDecoding, DesignationsCarryOverBetweenCalls)
{
    AribTextState state = state_for(0);
    EXPECT_EQ(decode({0x1B, 0x28, 0x31}, state), "");  // G0 := katakana, no text
    EXPECT_TRUE(same_bytes(decode({0x21}, state), byte_string({0x83, 0x40})));  // ァ
}

TEST(AribTextDecoding, MissingInputGivesNoText)
{
    AribTextState state = state_for(0);
    EXPECT_EQ(decode_arib_text(nullptr, 4, state), "");
    const uint8_t one = 0x30;
    EXPECT_EQ(decode_arib_text(&one, 0, state), "");
    EXPECT_EQ(decode({0x0C, 0x1B, 0x6E, 0x89}, state), "");
}

TEST(AribTextDecoding, ANulFromAnOutOfRangeRowEndsTheText)
{
    // GR Kanji with first byte 0xA0 is row 0x20: cell 0x23 comes out as 0x00 0xA1
    AribTextState state = state_for(kProfilePartialService);
    EXPECT_TRUE(same_bytes(decode({0x30, 0x21, 0xA0, 0xA3, 0x30, 0x22}, state), kAkanji));
}

TEST(AribTextStore, ChangeTrackingComparesTheHeldBytes)
{
    AribTextState state;
    state.track_changes = true;
    store_text(state, "abc");
    EXPECT_TRUE(state.text_changed);  // the first text always differs
    store_text(state, "abc");
    EXPECT_FALSE(state.text_changed);
    store_text(state, "abcd");
    EXPECT_TRUE(state.text_changed);
    store_text(state, "abce");
    EXPECT_TRUE(state.text_changed);
    EXPECT_EQ(state.text, "abce");

    store_text(state, "");  // stores nothing, flag cleared
    EXPECT_EQ(state.text, "abce");
    EXPECT_FALSE(state.text_changed);

    AribTextState untracked;
    untracked.text_changed = true;
    store_text(untracked, "x");
    EXPECT_TRUE(untracked.text_changed);  // not computed without tracking
    EXPECT_EQ(untracked.text, "x");
}

}  // namespace
}  // namespace qv
