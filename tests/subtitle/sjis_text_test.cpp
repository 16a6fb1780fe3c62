#include "subtitle/sjis_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/console_output.h"
#include "platform/text.h"
#include "support/bytes_compare.h"
#include "support/test_data.h"

namespace {

using qv::utf8_to_sjis;
using qv::wide_to_sjis;
using qv::test::bytes_equal;

TEST(Utf8ToSjis, EmptyTextGivesNone)
{
    EXPECT_FALSE(utf8_to_sjis("").has_value());
}

TEST(Utf8ToSjis, CharactersWithoutExactMappingBecomeHexReferences)
{
    struct Case {
        const char* utf8;
        const char* sjis;
    };
    const Case cases[] = {
        {"\xE3\x81\x82\xE6\xBC\xA2\x41", "\x82\xA0\x8A\xBF\x41"},  // あ漢A
        {"caf\xC3\xA9", "caf&#xE9;"},                              // é
        {"\xE3\x80\x9C", "&#x301C;"},                              // 〜 WAVE DASH: no best fit
        {"?\xC3\xA9?", "?&#xE9;?"},                                // a '?' of the text stays
        {"\xFF", "&#xFFFD;"},                                      // malformed UTF-8
        {"\xEF\xBD\xB1\xC3\xA9", "\xB1&#xE9;"},                    // ｱ (one byte) then é
    };
    for (const Case& c : cases) {
        const auto sjis = utf8_to_sjis(c.utf8);
        ASSERT_TRUE(sjis.has_value()) << c.utf8;
        EXPECT_TRUE(bytes_equal(c.sjis, *sjis)) << c.utf8;
    }
}

TEST(Utf8ToSjis, ReferencesStayAlignedAfterIbmAndUserDefinedRows)
{
    // ⅰ encodes into the IBM rows (lead 0xFA) and U+E000 into the user-defined rows (lead
    // 0xF0); both leads lie outside 0x81-0x9F/0xE0-0xEF, and the é after them must still be
    // referenced as itself.
    const auto ibm = utf8_to_sjis("\xE2\x85\xB0\xC3\xA9");
    ASSERT_TRUE(ibm.has_value());
    EXPECT_TRUE(bytes_equal("\xFA\x40&#xE9;", *ibm));
    const auto user = utf8_to_sjis("\xEE\x80\x80\xC3\xA9\xE4\xB8\x80");  // U+E000 é 一
    ASSERT_TRUE(user.has_value());
    EXPECT_TRUE(bytes_equal("\xF0\x40&#xE9;\x88\xEA", *user));
}

TEST(WideToSjis, ReferenceStyles)
{
    struct Case {
        int style;
        const char* sjis;
    };
    const std::u16string text = u"\u00E9\u4E00\u20AC";  // é 一 €
    const Case cases[] = {
        {1, "\\u00e9\x88\xEA\\u20ac"},
        {2, "&#xE9;\x88\xEA&#x20AC;"},
        {3, "&#233;\x88\xEA&#8364;"},
        {4, "?\x88\xEA?"},  // no reference form past style 3
        {0, " \x88\xEA "},  // best fit allowed, blank for the rest
        {-1, " \x88\xEA "},
    };
    for (const Case& c : cases) {
        const auto sjis = wide_to_sjis(text, c.style);
        ASSERT_TRUE(sjis.has_value());
        EXPECT_TRUE(bytes_equal(c.sjis, *sjis)) << "style " << c.style;
    }
}

TEST(WideToSjis, EmptyTextConvertsToEmptyText)
{
    const auto sjis = wide_to_sjis(u"", 2);
    ASSERT_TRUE(sjis.has_value());
    EXPECT_TRUE(sjis->empty());
}

TEST(WideToSjis, BestFitOnlyAtStyleZeroOrBelow)
{
    const std::u16string text = u"\u301C\u2212";  // 〜 −
    EXPECT_TRUE(bytes_equal("\x81\x60\x81\x7C", wide_to_sjis(text, 0).value_or("")));
    EXPECT_TRUE(bytes_equal("&#x301C;&#x2212;", wide_to_sjis(text, 2).value_or("")));
}

TEST(WideToSjis, SurrogatePairIsReferencedAsOneCharacter)
{
    // The pair converts to a single '?', so the walk takes both units for it and the
    // characters after it keep their own units.
    const std::u16string text = u"a\U0001F600\u00E9b";
    EXPECT_TRUE(bytes_equal("a&#x1F600;&#xE9;b", wide_to_sjis(text, 2).value_or("")));
    EXPECT_TRUE(bytes_equal("a&#128512;&#233;b", wide_to_sjis(text, 3).value_or("")));
    EXPECT_TRUE(bytes_equal("a\\ud83d\\ude00\\u00e9b", wide_to_sjis(text, 1).value_or("")));
    EXPECT_TRUE(bytes_equal("a  b", wide_to_sjis(text, 0).value_or("")));
    const char16_t lone[] = {0xD800, u'x', 0xDC00};
    EXPECT_TRUE(bytes_equal("&#xD800;x&#xDC00;",
                            wide_to_sjis(std::u16string_view(lone, 3), 2).value_or("")));
}

TEST(WideToSjis, StopRequestLeavesTheRestAsConverted)
{
    qv::stop_requested = 1;
    const auto sjis = wide_to_sjis(u"\u00E9\u3042", 2);
    qv::stop_requested = 0;
    ASSERT_TRUE(sjis.has_value());
    EXPECT_TRUE(bytes_equal("?\x82\xA0", *sjis));
}

/// Turns "&#xHEX;" references back into UTF-8.
std::string expand_references(const std::string& text)
{
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end =
            text.compare(pos, 3, "&#x") == 0 ? text.find(';', pos) : std::string::npos;
        if (end != std::string::npos) {
            const auto value =
                std::strtoul(text.substr(pos + 3, end - pos - 3).c_str(), nullptr, 16);
            out += qv::platform::utf16_to_utf8(std::u16string(1, static_cast<char16_t>(value)));
            pos = end + 1;
        } else {
            out.push_back(text[pos++]);
        }
    }
    return out;
}

TEST(Utf8ToSjis, RealCaptionTextComesBackThroughShiftJis)
{
    const auto data =
        qv::test::read_whole_file(qv::test::testdata_dir() + "/arib-es/aibou.es.txt");
    ASSERT_FALSE(data.empty());
    const std::string text(data.begin(), data.end());
    ASSERT_EQ(text.find("&#x"), std::string::npos);
    const auto sjis = utf8_to_sjis(text);
    ASSERT_TRUE(sjis.has_value());
    EXPECT_NE(sjis->find("&#x301C;"), std::string::npos);  // its wave dashes have no mapping
    const std::string back = qv::platform::utf16_to_utf8(qv::platform::sjis_to_utf16(*sjis));
    EXPECT_TRUE(bytes_equal(text, expand_references(back)));
}

}  // namespace
