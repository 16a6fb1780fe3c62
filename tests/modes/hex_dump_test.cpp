#include "modes/hex_dump.h"

#include <gtest/gtest.h>

#include <vector>

#include "pump/pump_tables.h"
#include "modes/display_worker.h"

namespace qv {
namespace {

const std::string kHeader =
    "                 +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\r\n";

TEST(HexDumpLayout, PacketGivesHeaderAndTwelveRowsEachEndingInABlank)
{
    std::vector<uint8_t> packet(188);
    for (size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<uint8_t>(i);
    }
    const std::string text = hex_dump(packet.data(), packet.size(), 0x1000);
    ASSERT_EQ(text.compare(0, kHeader.size(), kHeader), 0);
    EXPECT_EQ(text.substr(kHeader.size(), 67),
              "0000000000001000 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \r\n");
    // 11 full rows of 17 + 48 characters and a last row of 12 bytes.
    const size_t full_row = 16 + 1 + 16 * 3 + 2;
    EXPECT_EQ(text.size(), kHeader.size() + 11 * full_row + (17 + 12 * 3 + 2));
    EXPECT_EQ(text.substr(text.size() - (17 + 12 * 3 + 2)),
              "00000000000010B0 B0 B1 B2 B3 B4 B5 B6 B7 B8 B9 BA BB \r\n");
    EXPECT_LE(text.size(), packet.size() / 16 * 68 + 204);
}

TEST(HexDumpLayout, PositionUsesAllSixteenUpperCaseDigits)
{
    const uint8_t bytes[] = {0xAB};
    EXPECT_EQ(hex_dump(bytes, 1, 0xFEDCBA9876543210ull), kHeader + "FEDCBA9876543210 AB \r\n");
    EXPECT_EQ(hex_dump(bytes, 0, 0), kHeader);
}

TEST(DumpChoice, PidTextIsComparedOverItsOwnLength)
{
    // "0x130" dumps 0x130 and the PIDs whose text is a prefix of it, not the other way round.
    EXPECT_TRUE(dump_requested("0x130", 0x130, PacketKind::other));
    EXPECT_TRUE(dump_requested("0x130", 0x13, PacketKind::other));
    EXPECT_TRUE(dump_requested("0x130", 0x1, PacketKind::other));
    EXPECT_FALSE(dump_requested("0x13", 0x130, PacketKind::other));
    EXPECT_FALSE(dump_requested("0x130", 0x131, PacketKind::other));
    EXPECT_TRUE(dump_requested("0X1F0", 0x1F0, PacketKind::other));  // case-insensitive
}

TEST(DumpChoice, KindNamesDumpOnlyPacketsTheirParserTook)
{
    EXPECT_TRUE(dump_requested("pmt", 0x1F0, PacketKind::pmt));
    EXPECT_FALSE(dump_requested("pmt", 0x1F0, PacketKind::other));
    EXPECT_TRUE(dump_requested("PAT", 0, PacketKind::pat));
    EXPECT_TRUE(dump_requested("tot", 0x14, PacketKind::tot));
    EXPECT_TRUE(dump_requested("caption", 0x130, PacketKind::caption));
    EXPECT_FALSE(dump_requested("capt", 0x130, PacketKind::caption));  // needs all 7 letters
    EXPECT_TRUE(dump_requested("all", 0x1FFF, PacketKind::other));
    EXPECT_TRUE(dump_requested("allx", 0x1FFF, PacketKind::other));
    EXPECT_FALSE(dump_requested("sdt", 0x12, PacketKind::eit));
}

}  // namespace
}  // namespace qv
