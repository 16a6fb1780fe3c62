#include "subtitle/conversion_packets.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ts/caption_entry.h"
#include "support/bytes_compare.h"
#include "support/caption_builders.h"
#include "support/packet_capture.h"
#include "support/ts_builders.h"
#include "ts/crc32_mpeg2.h"
#include "ts/pat_pmt.h"

namespace qv {
namespace {

using test::Bytes;

std::vector<Bytes> split_packets(const Bytes& bytes)
{
    std::vector<Bytes> packets;
    for (size_t at = 0; at + 188 <= bytes.size(); at += 188) {
        packets.emplace_back(bytes.begin() + at, bytes.begin() + at + 188);
    }
    EXPECT_EQ(bytes.size() % 188, 0u);
    return packets;
}

uint16_t pid_of(const Bytes& packet)
{
    return static_cast<uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
}

bool section_crc_holds(const uint8_t* section, size_t length)
{
    return crc32_mpeg2(section, section + length) == 0;
}

TEST(ConversionTables, PatBytes)
{
    CaptionEncoderState state;
    state.transport_stream_id = 0x1234;
    state.network_pid = 0x0010;
    state.pat_pmt_pid = 0x01F0;
    const std::array<uint8_t, 188> pat = build_pat_packet(state);
    const Bytes head = {0x47, 0x60, 0x00, 0x10, 0x00,                    // header, pointer
                        0x00, 0xB0, 0x11, 0x12, 0x34, 0xC3, 0x00, 0x00,  // table, TS id
                        0x00, 0x00, 0xE0, 0x10,                          // network PID
                        0x00, 0x01, 0xE1, 0xF0};                         // program 1 → 0x01F0
    EXPECT_EQ(Bytes(pat.begin(), pat.begin() + 21), head);
    EXPECT_TRUE(section_crc_holds(pat.data() + 5, 20));
    for (size_t i = 25; i < pat.size(); ++i) {
        ASSERT_EQ(pat[i], 0xFF) << i;
    }
}

TEST(ConversionTables, PmtAnnouncesTheCaptionStreamOnOtherPids)
{
    CaptionEncoderState state;
    state.pmt_pid = 0x01F0;
    state.caption_pid = 0x0130;
    state.pat_pmt_pid = state.pmt_pid;
    add_pmt_stream(state.pmt_streams, kCaptionStreamType, state.caption_pid,
                   kCaptionStreamDescriptors.data(), kCaptionStreamDescriptors.size());
    test::PacketCapture capture;
    ASSERT_TRUE(emit_conversion_packets(state, kStepPat, capture.writer()));
    ASSERT_TRUE(emit_conversion_packets(state, kStepPmt, capture.writer()));
    const std::vector<Bytes> packets = split_packets(capture.bytes());
    ASSERT_EQ(packets.size(), 2u);
    const Bytes pmt_head = {0x47, 0x61, 0xF0, 0x10, 0x00, 0x02, 0xB0, 0x1A, 0x00,
                            0x01, 0xC3, 0x00, 0x00, 0xE4, 0x00, 0xF0, 0x00,  // PCR PID, no info
                            0x06, 0xE1, 0x30, 0xF0, 0x08, 0x52, 0x01, 0x30, 0xFD,
                            0x03, 0x00, 0x08, 0x3D};
    EXPECT_EQ(Bytes(packets[1].begin(), packets[1].begin() + 30), pmt_head);
    EXPECT_TRUE(section_crc_holds(packets[1].data() + 5, 29));

    // The tables as a receiver reads them.
    StreamContext context;
    PidState* pat_state = parse_packet(context, packets[0].data());
    ASSERT_NE(pat_state, nullptr);
    ASSERT_TRUE(parse_pat(context, *pat_state, packets[0].data()));
    ProgramEntry* program = find_program_by_pmt_pid(context, 0x01F0);
    ASSERT_NE(program, nullptr);
    PidState* pmt_state = parse_packet(context, packets[1].data());
    ASSERT_NE(pmt_state, nullptr);
    EXPECT_NE(parse_pmt(context, *program, *pmt_state, packets[1].data()) & kPmtTaken, 0u);
    EXPECT_NE(find_caption_entry(context, 0x0130), nullptr);
}

TEST(ConversionPes, FirstPacketLayoutByPesLength)
{
    struct Case {
        size_t length;
        size_t packets;
        uint8_t control;    // byte 3 of the first packet
        size_t pes_offset;  // where the PES begins in the first packet
        size_t final_fill;  // 0xFF bytes at the end of the last packet
    };
    const Case cases[] = {
        {100, 1, 0x30, 88, 0}, {182, 1, 0x30, 6, 0},   {183, 1, 0x10, 4, 1},
        {184, 1, 0x10, 4, 0},  {200, 2, 0x10, 4, 168},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes pes(c.length);
        for (size_t i = 0; i < pes.size(); ++i) {
            pes[i] = static_cast<uint8_t>(i % 200);
        }
        const Bytes run = build_pes_run(0x0130, pes);
        PidCounter counter;
        const Bytes packets = packetize(run.data(), run.size(), &counter);
        ASSERT_EQ(packets.size(), c.packets * 188);
        EXPECT_EQ(Bytes(packets.begin(), packets.begin() + 4),
                  (Bytes{0x47, 0x41, 0x30, c.control}));
        if (c.control == 0x30) {
            EXPECT_EQ(packets[4], 183 - c.length);  // adaptation_field_length
            EXPECT_EQ(packets[5], 0x00);
        }
        Bytes carried(packets.begin() + c.pes_offset, packets.begin() + 188);
        for (size_t k = 1; k < c.packets; ++k) {
            carried.insert(carried.end(), packets.begin() + k * 188 + 4,
                           packets.begin() + (k + 1) * 188);
        }
        ASSERT_EQ(carried.size(), c.length + c.final_fill);
        EXPECT_EQ(Bytes(carried.begin(), carried.begin() + c.length), pes);
        EXPECT_EQ(Bytes(carried.begin() + c.length, carried.end()), Bytes(c.final_fill, 0xFF));
    }
}

TEST(ConversionPes, CaptionCountersRunOnAcrossManagementAndStatements)
{
    CaptionEncoderState statement;
    CaptionEncoderState management;
    share_pid_counters(management, statement);
    management.management = 1;
    test::PacketCapture capture;
    PacketWriter& writer = capture.writer();
    ASSERT_TRUE(emit_conversion_packets(statement, kStepPat, writer));
    ASSERT_TRUE(emit_conversion_packets(statement, kStepPmt, writer));
    ASSERT_TRUE(emit_conversion_packets(management, kStepCaption, writer));
    ASSERT_TRUE(emit_conversion_packets(statement, kStepCaption, writer));  // clearing
    statement.caption_text = std::string(300, 'A');                         // two packets
    ASSERT_TRUE(emit_conversion_packets(statement, kStepCaption, writer));
    ASSERT_TRUE(emit_conversion_packets(management, kStepCaption, writer));
    ASSERT_TRUE(emit_conversion_packets(statement, kStepPat, writer));
    std::map<uint16_t, std::vector<int>> counters;
    for (const Bytes& packet : split_packets(capture.bytes())) {
        counters[pid_of(packet)].push_back(packet[3] & 0x0F);
    }
    EXPECT_EQ(counters[0x0000], (std::vector<int>{0, 1}));
    EXPECT_EQ(counters[0x0410], (std::vector<int>{0}));
    EXPECT_EQ(counters[0x0416], (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(emit_conversion_packets(statement, 3, writer));
}

/// Feeds the packets of the caption PID to the decoder; the texts it reported.
std::vector<std::string> decode(const Bytes& bytes, uint16_t pid = kDefaultCaptionPid)
{
    test::CaptionFeed feed(pid);
    for (const Bytes& packet : split_packets(bytes)) {
        if (pid_of(packet) == pid) {
            (void)test::feed_packet(feed, packet);
        }
    }
    return feed.texts;
}

TEST(ConversionRoundTrip, MixedTextComesBackInFullWidthForms)
{
    CaptionEncoderState statement;
    CaptionEncoderState management;
    share_pid_counters(management, statement);
    management.management = 1;
    management.start_time = 1;
    statement.start_time = 0x1ABCDEF01;
    // AB LF あ漢 ｱ blank 1 髙 [外:x]ー
    statement.caption_text = "AB\n\x82\xA0\x8A\xBF\xB1 1\xFB\xFC[\x8A\x4F:x]\x81\x5B";
    test::PacketCapture capture;
    ASSERT_TRUE(emit_conversion_packets(management, kStepCaption, capture.writer()));
    ASSERT_TRUE(emit_conversion_packets(statement, kStepCaption, capture.writer()));
    const Bytes& bytes = capture.bytes();
    const std::vector<std::string> texts = decode(bytes);
    ASSERT_EQ(texts.size(), 1u);
    // ＡＢあ漢ア １〓ー
    EXPECT_TRUE(test::bytes_equal(
        "\x82\x60\x82\x61\x82\xA0\x8A\xBF\x83\x41 \x82\x50\x81\xAC\x81\x5B", texts[0]));
    // The statement's PES carries the entry's start as PTS.
    const std::vector<Bytes> packets = split_packets(bytes);
    const Bytes& first = packets.back();
    const size_t pes = (first[3] & 0x20) ? 5 + first[4] : 4;
    EXPECT_EQ(Bytes(first.begin() + pes + 9, first.begin() + pes + 14),
              test::time_stamp_field(0x2, 0x1ABCDEF01));
}

TEST(ConversionRoundTrip, TooLongTextIsCutAtACharacterBoundaryAndReported)
{
    CaptionEncoderState statement;
    CaptionEncoderState management;
    share_pid_counters(management, statement);
    management.management = 1;
    std::string text;
    for (int i = 0; i < 30000; ++i) {
        text += "A\x82\xA0";  // Aあ: a run switch at every character
    }
    statement.caption_text = text;
    test::PacketCapture capture;
    size_t cut = 0;
    ASSERT_TRUE(emit_conversion_packets(management, kStepCaption, capture.writer(), &cut));
    EXPECT_EQ(cut, 0u);
    ASSERT_TRUE(emit_conversion_packets(statement, kStepCaption, capture.writer(), &cut));
    ASSERT_GT(cut, 0u);
    const size_t kept = text.size() - cut;
    std::string expected;
    for (size_t at = 0; at < kept; at += 3) {
        expected += "\x82\x60";  // Ａ
        if (at + 1 < kept) {
            expected += "\x82\xA0";
        }
    }
    EXPECT_NE(kept % 3, 2u);  // never between the two bytes of あ
    const std::vector<std::string> texts = decode(capture.bytes());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_TRUE(test::bytes_equal(expected, texts[0]));
    EXPECT_GT(kept, 17000u);  // the cut keeps what fits, not much less
}

}  // namespace
}  // namespace qv
