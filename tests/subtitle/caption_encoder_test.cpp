#include "subtitle/caption_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console_output.h"
#include "arib/crc16.h"
#include "support/bytes_compare.h"
#include "support/ts_builders.h"

namespace qv {
namespace {

using test::bytes_equal;
using Bytes = std::vector<uint8_t>;

std::string_view as_text(const Bytes& bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string encoded(std::string_view text, int32_t row = 6)
{
    CaptionEncoderState state;
    state.row = row;
    Bytes body;
    encode_caption_text(state, text, body);
    return std::string(as_text(body));
}

TEST(CaptionTextEncoding, RunsOfEachSetWithTheirDesignations)
{
    struct Case {
        const char* name;
        std::string text;  // Shift_JIS
        std::string code;
        int32_t row = 6;
    };
    const Case cases[] = {
        // A B LF あ: the worked example, byte for byte.
        {"ascii, line break, kanji", "AB\n\x82\xA0",
         "\x1B\x29\x4A\x0E\x41\x42"
         "\x1C\x47\x40"
         "\x1B\x24\x42\x0F\x24\x22"},
        {"half-width katakana", "\xB1\xDF", "\x1B\x2B\x49\x1B\x7C\xB1\xDF"},  // ｱﾟ
        {"kanji rows past 0xA0", "\xE0\x40\xEA\xA4", "\x1B\x24\x42\x0F\x5F\x21\x74\x26"},
        // 髙 (FB FC) and ⅱ (FA 41) from the extension rows have no JIS X 0208 code: 〓.
        {"extension rows",
         "\xFB\xFC\xFA\x41"
         "A",
         "\x1B\x24\x42\x0F\x22\x2E\x22\x2E"
         "\x1B\x29\x4A\x0E\x41"},
        {"broken trail byte", "\x82\x0A", "\x1B\x24\x42\x0F\x22\x2E"},
        {"dropped bytes",
         "A\x7F"
         "B\x80\xA0\xFD\t\r",
         "\x1B\x29\x4A\x0E\x41\x42"},
        {"a dropped byte still ends the run",
         "A\x7F\x80"
         "B",
         "\x1B\x29\x4A\x0E\x41\x1B\x29\x4A\x0E\x42"},
        {"lead byte at the end drops its run", "A\x82\xA0\x82", "\x1B\x29\x4A\x0E\x41"},
        {"rows wrap from 15 to 0", "\n\n", "\x1C\x40\x40\x1C\x41\x40", 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(bytes_equal(c.code, encoded(c.text, c.row)));
    }
}

TEST(CaptionTextEncoding, StopRequestKeepsThePendingRun)
{
    stop_requested = 1;
    const std::string code = encoded("AB");
    stop_requested = 0;
    EXPECT_TRUE(code.empty());
}

TEST(CaptionMarkers, RemovedCharacterByCharacter)
{
    struct Case {
        std::string text;
        std::string kept;
    };
    const std::string open = "[\x8A\x4F:";  // [外:
    const Case cases[] = {
        {"A" + open + "1]B" + open + "1]C", "ABC"},
        {open + "1]" + open + "22]x", "x"},
        {open + "\x81\x5D]B", "B"},                      // a trail byte 0x5D is no closing bracket
        {"\x81\x5B\x8A\x4F:x]", "\x81\x5B\x8A\x4F:x]"},  // ー then 外: the 0x5B is a trail byte
        {"A" + open + "x", "A" + open + "x"},            // without "]" the marker stays
        {"[" + open + "a]" + "\x8A\x4F:b]c", "c"},       // a marker formed by the removal goes too
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        remove_external_character_markers(text);
        EXPECT_TRUE(bytes_equal(c.kept, text)) << c.text;
    }
}

/// CS, SDF, SDP, APS at row 0, WHF, COL 0x48 and NSZ.
std::string settings(const std::string& sdf = "620;480", const std::string& sdp = "100;30")
{
    return "\x0C\x9B" + sdf + " V\x9B" + sdp + " _\x1C\x40\x40\x87\x90\x48\x8A";
}

TEST(StatementBody, SettingsExtraBytesAndTheRowRule)
{
    struct Case {
        const char* name;
        std::string text;
        std::string body;
        int32_t display_height = 480;
        int32_t position_y = 30;
        Bytes extra = {};
    };
    const std::string nine_lines = "1\n2\n3\n4\n5\n6\n7\n8\n9\n";
    const std::string five_lines = "1\n2\n3\n4\n5";
    const Case cases[] = {
        {"clearing statement", "", settings()},
        {"extra bytes after the settings", "", settings() + "\x9A\x20", 480, 30, {0x9A, 0x20}},
        {"short text from row 6", "A", settings() + "\x1C\x46\x40\x1B\x29\x4A\x0E\x41"},
        {"nine lines and a final LF still from row 6", nine_lines,
         settings() + "\x1C\x46\x40" + encoded(nine_lines, 6)},
        {"ten lines from row 0", nine_lines + "0",
         settings() + "\x1C\x40\x40" + encoded(nine_lines + "0", 0)},
        {"a lower position leaves fewer rows", five_lines,
         settings("620;480", "100;300") + "\x1C\x40\x40" + encoded(five_lines, 0), 480, 300},
        {"height below 8 gives no offset", five_lines,
         settings("620;4", "100;300") + "\x1C\x46\x40" + encoded(five_lines, 6), 4, 300},
        {"height 0 keeps the default", "", settings(), 0},
        {"markers removed", "A[\x8A\x4F:1]", settings() + "\x1C\x46\x40\x1B\x29\x4A\x0E\x41"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptionEncoderState state;
        state.display_height = c.display_height;
        state.position_y = c.position_y;
        state.extra_bytes = c.extra;
        state.row = 3;  // working values start again from their bases
        EXPECT_TRUE(bytes_equal(c.body, as_text(build_statement_body(state, c.text))));
    }
}

TEST(CaptionLayers, UnitDataGroupAndPesBytes)
{
    const Bytes body = {0x0C, 0x41};
    const Bytes unit = build_data_unit(body);
    EXPECT_EQ(unit, (Bytes{0x1F, 0x20, 0x00, 0x00, 0x02, 0x0C, 0x41}));
    EXPECT_EQ(build_statement_data(unit),
              (Bytes{0x3F, 0x00, 0x00, 0x07, 0x1F, 0x20, 0x00, 0x00, 0x02, 0x0C, 0x41}));
    EXPECT_EQ(build_statement_data(unit, 1, 0x123456789).size(), 4 + 5 + unit.size());
    const Bytes management = build_management_data(unit);
    EXPECT_EQ(Bytes(management.begin(), management.begin() + 10),
              (Bytes{0x3F, 0x01, 0x10, 'j', 'p', 'n', 0x80, 0x00, 0x00, 0x07}));
    const Bytes with_otm = build_management_data(unit, 2, 0x123456789);
    EXPECT_EQ(Bytes(with_otm.begin(), with_otm.begin() + 7),
              (Bytes{0xBF, 0x12, 0x34, 0x56, 0x78, 0x9F, 0x01}));

    const Bytes group = build_data_group(kDataGroupStatement, management);
    ASSERT_EQ(group.size(), 5 + management.size() + 2);
    EXPECT_EQ(Bytes(group.begin(), group.begin() + 5),
              (Bytes{0x04, 0x00, 0x00, 0x00, static_cast<uint8_t>(management.size())}));
    EXPECT_EQ(crc16(group.data(), group.size()), 0);  // the CRC closes the group
    EXPECT_TRUE(build_data_group(0, Bytes(65536, 0)).empty());
    EXPECT_EQ(build_data_group(0, Bytes(65535, 0)).size(), 65542u);
    EXPECT_TRUE(build_data_unit({}).empty());

    EXPECT_EQ(build_pes_data(group, false)[0], 0x80);
    EXPECT_EQ(build_pes_data(group, true)[0], 0x81);
}

TEST(CaptionLayers, PesPacketByStreamId)
{
    const Bytes data = {0x80, 0xFF, 0xF0, 0x01};
    const uint64_t pts = 0x1ABCDEF01;
    PesRequest request;
    request.pts = pts | (uint64_t{1} << 40);  // bits above 32 are dropped
    EXPECT_EQ(build_pes_packet(data, request),
              test::concat({{0x00, 0x00, 0x01, 0xBD, 0x00, 0x0C, 0x80, 0x80, 0x05},
                            test::time_stamp_field(0x2, pts),
                            data}));
    request.dts = 0x1234;
    EXPECT_EQ(build_pes_packet(data, request),
              test::concat({{0x00, 0x00, 0x01, 0xBD, 0x00, 0x11, 0x80, 0xC0, 0x0A},
                            test::time_stamp_field(0x3, pts),
                            test::time_stamp_field(0x1, 0x1234),
                            data}));
    request.stream_id = kStreamIdPrivate2;
    EXPECT_EQ(build_pes_packet(data, request),
              test::concat({{0x00, 0x00, 0x01, 0xBF, 0x00, 0x04}, data}));
    request.stream_id = kStreamIdPadding;
    EXPECT_EQ(build_pes_packet(data, request),
              (Bytes{0x00, 0x00, 0x01, 0xBE, 0x00, 0x04, 0xFF, 0xFF, 0xFF, 0xFF}));
    request.stream_id = kStreamIdPrivate2;
    EXPECT_EQ(build_pes_packet(Bytes(65535, 0), request).size(), 65541u);
    EXPECT_TRUE(build_pes_packet(Bytes(65536, 0), request).empty());
}

}  // namespace
}  // namespace qv
