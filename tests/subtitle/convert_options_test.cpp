#include "subtitle/convert_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/console_output.h"

namespace qv {
namespace {

TEST(PidDefinitionOption, ItemsSetPidsOrAreReportedAsIgnored)
{
    using P = PidItemProblem;
    struct Case {
        std::string text;
        uint16_t pmt;
        uint16_t caption;
        std::vector<std::pair<std::string, P>> ignored;
    };
    const Case cases[] = {
        {"pmt:0x1F0,caption:0x130", 0x01F0, 0x0130, {}},
        {"PMT_pid:0x1f0,Caption1:0x0130", 0x01F0, 0x0130, {}},
        {"pmt:0x1g-F0", 0x01F0, 0x0416, {}},  // other characters are skipped
        {"", 0x0410, 0x0416, {}},
        {"pmt=0x100,video:0x100",
         0x0410,
         0x0416,
         {{"pmt=0x100", P::no_value}, {"video:0x100", P::unknown_name}}},
        {"pmt:0x0,caption:0x1F,pmt:0x1FFF,caption:0x2000,pmt:0x10410",
         0x0410,
         0x0416,
         {{"pmt:0x0", P::out_of_range},
          {"caption:0x1F", P::out_of_range},
          {"pmt:0x1FFF", P::out_of_range},
          {"caption:0x2000", P::out_of_range},
          {"pmt:0x10410", P::out_of_range}}},
        {"pmt:0x20,caption:0x1FFE", 0x0020, 0x1FFE, {}},
        {"pmt:0x416", 0x0410, 0x0416, {{"pmt:0x416", P::same_as_other}}},
        {"caption:0x410,pmt:0x420", 0x0420, 0x0410, {}},  // fine together, in either order
        {"pmt:0x300,caption:0x300",
         0x0410,
         0x0416,
         {{"pmt:0x300", P::same_as_other}, {"caption:0x300", P::same_as_other}}},
        {"pmt:0x300,pmt:0x0", 0x0300, 0x0416, {{"pmt:0x0", P::out_of_range}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const PidDefinitions pids = parse_piddef(c.text);
        EXPECT_EQ(pids.pmt_pid, c.pmt);
        EXPECT_EQ(pids.caption_pid, c.caption);
        ASSERT_EQ(pids.ignored.size(), c.ignored.size());
        for (size_t i = 0; i < c.ignored.size(); ++i) {
            EXPECT_EQ(pids.ignored[i].item, c.ignored[i].first);
            EXPECT_EQ(pids.ignored[i].problem, c.ignored[i].second);
        }
    }
}

TEST(ParameterBytesOption, TwoCharactersPerByte)
{
    struct Case {
        std::string text;
        std::vector<uint8_t> bytes;
        size_t non_hex;
        bool odd;
    };
    const Case cases[] = {
        {"9A20", {0x9A, 0x20}, 0, false},
        {"9a2", {0x9A}, 0, true},
        {"G0", {static_cast<uint8_t>(('G' << 4) + 0)}, 1, false},  // 'G' counts as 0x47
        {"0 ", {0x20}, 1, false},
        {"", {}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const ParamBytes param = parse_paramhex(c.text);
        EXPECT_EQ(param.bytes, c.bytes);
        EXPECT_EQ(param.non_hex_characters, c.non_hex);
        EXPECT_EQ(param.odd_character_dropped, c.odd);
        EXPECT_FALSE(param.stopped);
    }
}

TEST(ParameterBytesOption, StopRequestEndsAfterTheCurrentByte)
{
    stop_requested = 1;
    const ParamBytes param = parse_paramhex("0102");
    stop_requested = 0;
    EXPECT_EQ(param.bytes, std::vector<uint8_t>{0x01});
    EXPECT_TRUE(param.stopped);
}

}  // namespace
}  // namespace qv
