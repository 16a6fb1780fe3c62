#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/bytes_compare.h"

namespace {

using qv::platform::sjis_to_utf16;
using qv::platform::utf16_to_sjis;
using qv::test::bytes_equal;
using qv::test::units_equal;

std::string encode_exact(std::u16string_view text, bool& used_default)
{
    return utf16_to_sjis(text, false, '?', used_default);
}

/// Windows' preference among byte sequences that decode to one code point: single bytes, then
/// the JIS X 0208 rows, NEC row 13, the IBM extension rows, the NEC-selected IBM rows.
int preference(uint16_t code)
{
    if (code < 0x100) {
        return 0;
    }
    const unsigned lead = code >> 8;
    if (lead <= 0x84 || (lead >= 0x88 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xEA)) {
        return 1;
    }
    if (lead == 0x87) {
        return 2;
    }
    if (lead >= 0xFA) {
        return 3;
    }
    if (lead == 0xED || lead == 0xEE) {
        return 4;
    }
    return 5;
}

std::string sjis_bytes(uint16_t code)
{
    if (code < 0x100) {
        return std::string(1, static_cast<char>(code));
    }
    return {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
}

TEST(Cp932RoundTrip, EveryDecodableSequenceEncodesToItselfOrItsPreferredTwin)
{
    int decodable = 0;
    int twins = 0;
    for (uint32_t code = 0; code <= 0xFCFC; ++code) {
        if (code >= 0x100 && (code & 0xFF) < 0x40) {
            continue;
        }
        const std::string bytes = sjis_bytes(static_cast<uint16_t>(code));
        const std::u16string unit = sjis_to_utf16(bytes);
        if (unit.size() != 1 || unit[0] == 0xFFFD) {
            continue;
        }
        ++decodable;
        bool used_default = true;
        const std::string back = encode_exact(unit, used_default);
        ASSERT_FALSE(used_default) << std::hex << code;
        if (back == bytes) {
            continue;
        }
        ++twins;
        ASSERT_LE(back.size(), 2u) << std::hex << code;
        const uint16_t back_code =
            back.size() == 1 ? static_cast<uint8_t>(back[0])
                             : static_cast<uint16_t>((static_cast<uint8_t>(back[0]) << 8) |
                                                     static_cast<uint8_t>(back[1]));
        EXPECT_TRUE(units_equal(unit, sjis_to_utf16(back))) << std::hex << code;
        EXPECT_LT(preference(back_code), preference(static_cast<uint16_t>(code)))
            << std::hex << code << " encoded as " << back_code;
    }
    EXPECT_GT(decodable, 9000);  // 256 singles less 60 leads, about 9200 pairs
    EXPECT_GT(twins, 390);       // NEC row 13 and both IBM copies
}

TEST(Cp932RoundTrip, ExactEncodingOnlyUsesMappingsThatDecodeBack)
{
    for (uint32_t value = 0; value <= 0xFFFF; ++value) {
        const std::u16string unit(1, static_cast<char16_t>(value));
        bool used_default = false;
        const std::string bytes = encode_exact(unit, used_default);
        if (used_default) {
            ASSERT_EQ(bytes, "?") << std::hex << value;
            continue;
        }
        ASSERT_TRUE(units_equal(unit, sjis_to_utf16(bytes))) << std::hex << value;
    }
}

TEST(Cp932Encode, DuplicatesGoToTheRowWindowsPrefers)
{
    struct Case {
        char16_t unit;
        const char* bytes;
    };
    const Case cases[] = {
        {u'\u2252', "\x81\xE0"},  // ≒ (also NEC row 13)
        {u'\u2160', "\x87\x54"},  // Ⅰ (also IBM rows)
        {u'\u2170', "\xFA\x40"},  // ⅰ (also NEC-selected IBM rows)
        {u'\uFFE2', "\x81\xCA"},  // ￢ (three sequences)
    };
    for (const Case& c : cases) {
        bool used_default = true;
        EXPECT_TRUE(bytes_equal(c.bytes, encode_exact(std::u16string(1, c.unit), used_default)));
        EXPECT_FALSE(used_default);
    }
}

TEST(Cp932Encode, BestFitOnlyWhenAllowed)
{
    const std::u16string text = u"\u301C\u00A2\u2212";  // 〜 ¢ −
    bool used_default = false;
    EXPECT_TRUE(bytes_equal("???", encode_exact(text, used_default)));
    EXPECT_TRUE(used_default);
    EXPECT_TRUE(bytes_equal("\x81\x60\x81\x91\x81\x7C",  // ～ ￠ －
                            utf16_to_sjis(text, true, ' ', used_default)));
    EXPECT_FALSE(used_default);
    EXPECT_TRUE(bytes_equal(" ", utf16_to_sjis(u"\u00E9", true, ' ', used_default)));
    EXPECT_TRUE(used_default);
}

TEST(Cp932Encode, SurrogatePairIsOneDefaultCharacterAndLoneSurrogatesOneEach)
{
    bool used_default = false;
    EXPECT_TRUE(bytes_equal("a?b", encode_exact(u"a\U0001F600b", used_default)));
    EXPECT_TRUE(used_default);
    const char16_t lone[] = {0xDC00, u'x', 0xD800, 0xD800, 0xDE00};
    EXPECT_TRUE(bytes_equal("?x??", encode_exact(std::u16string_view(lone, 5), used_default)));
    EXPECT_TRUE(bytes_equal("?", encode_exact(std::u16string(1, 0xD83D), used_default)));
}

TEST(Cp932Encode, UsedDefaultIsClearedForMappableText)
{
    bool used_default = true;
    EXPECT_TRUE(bytes_equal("A\x82\xA0\xB1", encode_exact(u"Aあｱ", used_default)));
    EXPECT_FALSE(used_default);
}

TEST(Cp932Decode, SingleBytesAsWindowsMapsThem)
{
    EXPECT_TRUE(units_equal(u"\\~\u0080\uF8F0\uFF61\uFF9F\uF8F1\uF8F2\uF8F3",
                            sjis_to_utf16("\\~\x80\xA0\xA1\xDF\xFD\xFE\xFF")));
}

TEST(Cp932Decode, MalformedSequencesBecomeReplacementWithoutSwallowingText)
{
    struct Case {
        std::string_view bytes;
        std::u16string_view units;
    };
    const Case cases[] = {
        {"\x82", u"\uFFFD"},                               // lead byte at the end
        {"\x82 a", u"\uFFFD a"},                           // lead byte before a non-trail byte
        {std::string_view("\x82\x7F", 2), u"\uFFFD\x7F"},  // 0x7F is never a trail byte
        {"\x85\x40z", u"\uFFFDz"},                         // well-formed pair without a mapping
        {"\xF0\x40\xF9\xFC", u"\uE000\uE757"},             // user-defined rows
        {std::string_view("\x00\x82\xA0", 3), std::u16string_view(u"\0あ", 2)},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(units_equal(c.units, sjis_to_utf16(c.bytes)));
    }
}

TEST(Utf8Decode, IllFormedSequencesBecomeOneReplacementPerMaximalSubpart)
{
    struct Case {
        std::string_view utf8;
        std::u16string_view units;
    };
    const Case cases[] = {
        {"a\xC3\xA9", u"a\u00E9"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},                      // overlong NUL
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte form
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE3\x81"
         "a",
         u"\uFFFDa"},                 // truncated sequence, then ASCII
        {"\xF0\x9F\x98", u"\uFFFD"},  // truncated at the end
        {"\x80\xFF", u"\uFFFD\uFFFD"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(units_equal(c.units, qv::platform::utf8_to_utf16(c.utf8)));
    }
}

TEST(Utf16ToUtf8, PairsJoinAndUnpairedSurrogatesBecomeReplacement)
{
    EXPECT_TRUE(
        bytes_equal("\xF0\x9F\x98\x80\xE3\x81\x82", qv::platform::utf16_to_utf8(u"\U0001F600あ")));
    const char16_t unpaired[] = {0xDE00, u'a', 0xD83D};
    EXPECT_TRUE(
        bytes_equal("\xEF\xBF\xBD"
                    "a\xEF\xBF\xBD",
                    qv::platform::utf16_to_utf8(std::u16string_view(unpaired, 3))));
}

TEST(NativeText, ShiftJisReachesNativeTextAndBack)
{
    const std::string sjis = "ABC\x82\xA0\x8A\xBF\x8E\x9A\xB1";  // ABCあ漢字ｱ
    EXPECT_TRUE(units_equal(sjis_to_utf16(sjis),
                            qv::platform::native_to_utf16(qv::platform::sjis_to_native(sjis))));
#ifndef _WIN32
    EXPECT_TRUE(bytes_equal("ABC\xE3\x81\x82\xE6\xBC\xA2\xE5\xAD\x97\xEF\xBD\xB1",
                            qv::platform::sjis_to_native(sjis)));
    EXPECT_TRUE(bytes_equal("x\xEF\xBF\xBD", qv::platform::sjis_to_native("x\x85\x40")));
#endif
    EXPECT_TRUE(bytes_equal(qv::platform::sjis_to_native(sjis),
                            qv::platform::utf16_to_native(sjis_to_utf16(sjis))));
}

}  // namespace
