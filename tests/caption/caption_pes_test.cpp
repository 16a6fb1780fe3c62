#include "caption/caption_pes.h"

#include <gtest/gtest.h>

#include "base/byte_buffer.h"
#include "base/console_output.h"
#include "support/caption_builders.h"
#include "support/ts_builders.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::byte_string;
using test::Bytes;
using test::CaptionFeed;
using test::data_group;
using test::data_unit;
using test::feed_packet;
using test::feed_payload;
using test::management_data;
using test::pes_data;
using test::same_bytes;
using test::statement_data;

constexpr uint16_t kPid = 0x0130;

// 8-unit code bodies (profile 0: G0 Kanji in GL) and their Shift_JIS texts.
const Bytes kBodyA = {0x30, 0x21};  // 亜
const Bytes kBodyB = {0x30, 0x22};  // 唖
const std::string kTextA = byte_string({0x88, 0x9F});
const std::string kTextB = byte_string({0x88, 0xA0});

Bytes text_unit(const Bytes& body)
{
    return data_unit(0x20, body);
}

/// A PES payload with management data for "jpn" (group A) and one statement of `body`.
Bytes caption_payload(const Bytes& body, uint8_t management_id = 0x00)
{
    return pes_data(test::join({data_group(management_id, management_data({"jpn"})),
                                data_group(management_id + 1, statement_data(text_unit(body)))}));
}

TEST(CaptionPesReassembly, APesOverSeveralPacketsIsJoinedFromTheirPayloads)
{
    CaptionFeed feed(kPid);
    Bytes body;
    std::string expected;
    for (int n = 0; n < 200; ++n) {  // 400 bytes of text: three TS packets
        body.insert(body.end(), kBodyA.begin(), kBodyA.end());
        expected += kTextA;
    }
    const auto packets =
        test::ts_packets(test::pes_packet(caption_payload(body), 900000), kPid, feed.counter);
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_TRUE(feed_packet(feed, packets[0]));  // incomplete
    EXPECT_TRUE(feed_packet(feed, packets[1]));
    EXPECT_TRUE(feed.texts.empty());
    EXPECT_TRUE(feed_packet(feed, packets[2]));  // complete, groups accepted
    ASSERT_EQ(feed.texts.size(), 1u);
    EXPECT_TRUE(same_bytes(feed.texts[0], expected));
}

TEST(CaptionPesReassembly, GapsMissingPayloadAndStraysDropThePartialPes)
{
    Bytes long_body;
    for (int n = 0; n < 200; ++n) {
        long_body.insert(long_body.end(), kBodyA.begin(), kBodyA.end());
    }
    const Bytes pes = test::pes_packet(caption_payload(long_body), 900000);

    {  // a continuity gap in the middle: nothing decoded
        CaptionFeed feed(kPid);
        auto packets = test::ts_packets(pes, kPid, feed.counter);
        EXPECT_TRUE(feed_packet(feed, packets[0]));
        EXPECT_FALSE(feed_packet(feed, packets[2]));
        EXPECT_TRUE(feed.texts.empty());
        EXPECT_TRUE(feed.context->pid_states.front()->section_buffer.empty());
        // the next whole PES is decoded as usual
        feed_payload(feed, caption_payload(kBodyB));
        ASSERT_EQ(feed.texts.size(), 1u);
        EXPECT_TRUE(same_bytes(feed.texts[0], kTextB));
    }
    {  // an adaptation-only packet in the middle
        CaptionFeed feed(kPid);
        auto packets = test::ts_packets(pes, kPid, feed.counter);
        Bytes adaptation_only(188, 0xFF);
        adaptation_only[0] = 0x47;
        adaptation_only[1] = static_cast<uint8_t>(kPid >> 8);
        adaptation_only[2] = static_cast<uint8_t>(kPid);
        adaptation_only[3] = static_cast<uint8_t>(0x20 | (packets[0][3] & 0x0F));
        adaptation_only[4] = 183;
        adaptation_only[5] = 0x00;
        EXPECT_TRUE(feed_packet(feed, packets[0]));
        EXPECT_FALSE(feed_packet(feed, adaptation_only));
        EXPECT_FALSE(feed_packet(feed, packets[1]));
        EXPECT_FALSE(feed_packet(feed, packets[2]));
        EXPECT_TRUE(feed.texts.empty());
    }
    {  // a new start packet restarts collection; the old partial PES is lost
        CaptionFeed feed(kPid);
        auto first = test::ts_packets(pes, kPid, feed.counter);
        EXPECT_TRUE(feed_packet(feed, first[0]));
        feed_payload(feed, caption_payload(kBodyB));
        ASSERT_EQ(feed.texts.size(), 1u);
        EXPECT_TRUE(same_bytes(feed.texts[0], kTextB));
    }
    {  // a start packet that does not begin a PES stores nothing
        CaptionFeed feed(kPid);
        auto packets = test::ts_packets(pes, kPid, feed.counter);
        packets[0][6] = 0x02;  // start code 00 00 02
        EXPECT_FALSE(feed_packet(feed, packets[0]));
        EXPECT_FALSE(feed_packet(feed, packets[1]));  // no PES in progress
        EXPECT_TRUE(feed.context->pid_states.front()->section_buffer.empty());
    }
}

TEST(CaptionPesReassembly, PesHeaderAndPesDataHeaderChecks)
{
    struct Case {
        const char* name;
        size_t at;  // offset in the PES packet (header of 14 bytes, then the payload)
        uint8_t value;
        bool decoded;
    };
    const Case cases[] = {
        {"PES_packet_length 0", 4, 0x00, false},  // with byte 5 also cleared below
        {"data_identifier 0x81 (asynchronous)", 14, 0x81, true},
        {"data_identifier 0x82", 14, 0x82, false},
        {"private_stream_id 0xFE", 15, 0xFE, false},
        {"reserved bits of the header length ignored", 16, 0x00, true},
    };
    for (const Case& c : cases) {
        CaptionFeed feed(kPid);
        Bytes pes = test::pes_packet(caption_payload(kBodyA), 900000);
        pes[c.at] = c.value;
        if (c.at == 4) {
            pes[5] = 0x00;
        }
        for (const Bytes& packet : test::ts_packets(pes, kPid, feed.counter)) {
            (void)feed_packet(feed, packet);
        }
        EXPECT_EQ(feed.texts.size(), c.decoded ? 1u : 0u) << c.name;
    }

    // A PES data header with two bytes of private data, and a stream without optional header.
    CaptionFeed feed(kPid);
    Bytes payload = caption_payload(kBodyA);
    payload[2] = 0xF2;
    payload.insert(payload.begin() + 3, {0xAA, 0xBB});
    feed_payload(feed, payload);
    Bytes plain = {0x00, 0x00, 0x01, 0xBF, 0x00, 0x00};
    const Bytes second = caption_payload(kBodyB);
    plain[5] = static_cast<uint8_t>(second.size());
    plain.insert(plain.end(), second.begin(), second.end());
    for (const Bytes& packet : test::ts_packets(plain, kPid, feed.counter)) {
        (void)feed_packet(feed, packet);
    }
    ASSERT_EQ(feed.texts.size(), 2u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextA));
    EXPECT_TRUE(same_bytes(feed.texts[1], kTextB));

    // A padding stream (0xBE) has no payload: the same caption bytes behind its header are
    // stuffing and decode to nothing.
    Bytes padding = plain;
    padding[3] = 0xBE;
    const Bytes third = caption_payload(kBodyA);
    padding.resize(6);
    padding[5] = static_cast<uint8_t>(third.size());
    padding.insert(padding.end(), third.begin(), third.end());
    for (const Bytes& packet : test::ts_packets(padding, kPid, feed.counter)) {
        (void)feed_packet(feed, packet);
    }
    EXPECT_EQ(feed.texts.size(), 2u);
}

TEST(CaptionPesMergeHandOver, TheSinkGetsTheWholePesWithThisStreamsTimeStamps)
{
    CaptionFeed feed(kPid);
    ByteBuffer sink;
    Bytes long_body(300, 0x21);
    feed_payload(feed, caption_payload(kBodyA), &sink);  // PTS 900000: the clock's origin
    const Bytes pes = test::pes_packet(caption_payload(long_body), 990000);
    const auto packets = test::ts_packets(pes, kPid, feed.counter);
    for (const Bytes& packet : packets) {
        (void)feed_packet(feed, packet, &sink);
    }
    // the start packet whole, then the payloads of the continuation packets
    Bytes expected(packets[0]);
    for (size_t n = 1; n < packets.size(); ++n) {
        const size_t offset = (packets[n][3] & 0x20) ? 5 + packets[n][4] : 4;
        expected.insert(expected.end(), packets[n].begin() + static_cast<ptrdiff_t>(offset),
                        packets[n].end());
    }
    // PTS 990000 became the elapsed 90000 ticks of the caption stream's PTS clock
    const Bytes elapsed_pts = {0x21, 0x00, 0x05, 0xBF, 0x21};
    std::copy(elapsed_pts.begin(), elapsed_pts.end(), expected.begin() + 4 + 9);
    ASSERT_EQ(sink.data.size(), expected.size());
    EXPECT_TRUE(same_bytes(std::string(sink.data.begin(), sink.data.end()),
                           std::string(expected.begin(), expected.end())));
}

TEST(CaptionPesMergeHandOver, PcrPtsAndDtsOfTheStartPacketBecomeElapsedTicks)
{
    CaptionFeed feed(kPid);
    ByteBuffer sink;
    const Bytes payload = caption_payload(kBodyA);
    const uint16_t length = static_cast<uint16_t>(13 + payload.size());  // flags, PTS, DTS
    auto start_packet = [&](uint64_t pcr, uint64_t pts, uint64_t dts) {
        test::PacketOptions options;
        options.unit_start = true;
        options.adaptation = test::pcr_adaptation(pcr);
        return test::make_packet(kPid, feed.counter++,
                                 test::concat({test::pes_header(0xBD, length, pts, dts), payload}),
                                 options);
    };
    (void)feed_packet(feed, start_packet(1000000, 1000000, 990000), &sink);  // the origins
    const Bytes second = start_packet(1090000, 1180000, 1099000);
    (void)feed_packet(feed, second, &sink);
    ASSERT_EQ(feed.texts.size(), 1u);
    Bytes expected = start_packet(90000, 180000, 109000);
    expected[3] = second[3];                                // same continuity counter
    const size_t total = 4 + 1 + expected[4] + 6 + length;  // header, adaptation field, PES
    ASSERT_EQ(sink.data.size(), total);
    EXPECT_TRUE(same_bytes(std::string(sink.data.begin(), sink.data.end()),
                           std::string(expected.begin(), expected.begin() + total)));
}

TEST(CaptionDataGroups, CrcMismatchDropsTheRestButKeepsEarlierTexts)
{
    CaptionFeed feed(kPid);
    Bytes bad = data_group(0x01, statement_data(text_unit(kBodyB)));
    bad.back() ^= 0x01;
    feed_payload(feed,
                 pes_data(test::join({data_group(0x00, management_data({"jpn"})),
                                      data_group(0x01, statement_data(text_unit(kBodyA))), bad,
                                      data_group(0x01, statement_data(text_unit(kBodyB)))})));
    ASSERT_EQ(feed.texts.size(), 1u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextA));
}

TEST(CaptionDataGroups, OnlyTheStatementOfTheJapaneseLanguageIsDecoded)
{
    CaptionFeed feed(kPid);
    // no management data seen yet: nothing
    feed_payload(feed, pes_data(data_group(0x01, statement_data(text_unit(kBodyA)))));
    EXPECT_TRUE(feed.texts.empty());

    // "jpn" as the second language: statements of group 0x02 only
    feed_payload(feed, pes_data(test::join({data_group(0x00, management_data({"eng", "jpn"})),
                                            data_group(0x01, statement_data(text_unit(kBodyA))),
                                            data_group(0x02, statement_data(text_unit(kBodyB)))})));
    ASSERT_EQ(feed.texts.size(), 1u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextB));

    // group B: management 0x20 chooses 0x21; a group A statement is ignored
    feed_payload(feed, pes_data(test::join({data_group(0x20, management_data({"jpn"})),
                                            data_group(0x01, statement_data(text_unit(kBodyB))),
                                            data_group(0x21, statement_data(text_unit(kBodyA)))})));
    ASSERT_EQ(feed.texts.size(), 2u);
    EXPECT_TRUE(same_bytes(feed.texts[1], kTextA));
    EXPECT_EQ(feed.entry->management.statement_group_id, 0x21);

    // a management group without "jpn" stops all statements until one names it again
    feed_payload(feed, pes_data(test::join({data_group(0x20, management_data({"eng"})),
                                            data_group(0x21, statement_data(text_unit(kBodyB)))})));
    EXPECT_EQ(feed.texts.size(), 2u);
    EXPECT_EQ(feed.entry->management.statement_group_id, 0);
}

TEST(CaptionDataGroups, ChangedTextIsReportedOnceAndEmptyTextsAreNotStored)
{
    CaptionFeed feed(kPid);
    feed_payload(feed, caption_payload(kBodyA));
    feed_payload(feed, caption_payload(kBodyA));        // the same text again
    feed_payload(feed, caption_payload({0x0C, 0x89}));  // decodes to nothing
    EXPECT_EQ(feed.entry->text_state.text, kTextA);
    EXPECT_FALSE(feed.entry->text_state.text_changed);
    feed_payload(feed, caption_payload(kBodyB));
    ASSERT_EQ(feed.texts.size(), 2u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextA));
    EXPECT_TRUE(same_bytes(feed.texts[1], kTextB));
}

TEST(CaptionDataGroups, APesChangesTheCaptionWhenItsLastTextDiffersFromTheOneBefore)
{
    // Two equal statement units (or groups) in one PES: the second must not hide the change.
    CaptionFeed feed(kPid);
    feed_payload(feed, caption_payload(kBodyA));
    feed_payload(feed, pes_data(test::join({data_group(0x00, management_data({"jpn"})),
                                            data_group(0x01, statement_data(test::join(
                                                                 {text_unit(kBodyB),
                                                                  text_unit(kBodyB)})))})));
    feed_payload(feed, pes_data(test::join({data_group(0x00, management_data({"jpn"})),
                                            data_group(0x01, statement_data(text_unit(kBodyA))),
                                            data_group(0x01, statement_data(text_unit(kBodyA)))})));
    // B then back to A within one PES: the caption held before it, nothing new.
    feed_payload(feed, pes_data(test::join({data_group(0x00, management_data({"jpn"})),
                                            data_group(0x01, statement_data(test::join(
                                                                 {text_unit(kBodyB),
                                                                  text_unit(kBodyA)})))})));
    ASSERT_EQ(feed.texts.size(), 3u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextA));
    EXPECT_TRUE(same_bytes(feed.texts[1], kTextB));
    EXPECT_TRUE(same_bytes(feed.texts[2], kTextA));
}

TEST(CaptionDataGroups, OtherUnitsAndEmptyUnitsAreSteppedOverAndTheLastTextWins)
{
    CaptionFeed feed(kPid);
    const Bytes units = test::join({data_unit(0x30, {0x30, 0x21, 0x30, 0x21}),  // DRCS
                                    data_unit(0x20, {}), text_unit(kBodyA), data_unit(0x35, {0x0A}),
                                    text_unit(kBodyB)});
    feed_payload(feed, pes_data(test::join({data_group(0x00, management_data({"jpn"})),
                                            data_group(0x01, statement_data(units))})));
    ASSERT_EQ(feed.texts.size(), 1u);
    EXPECT_TRUE(same_bytes(feed.texts[0], kTextB));
}

TEST(CaptionDataGroups, HeaderVariantsWithTimesAndDisplayControl)
{
    // The display-control byte DC follows DMF 0xC, 0xD and 0xE alike; a reader that skips it for
    // one of them loses the language code and shows nothing.
    for (const uint8_t dmf : {0x0C, 0x0D, 0x0E}) {
        SCOPED_TRACE(dmf);
        CaptionFeed feed(kPid);
        // management: TMD 2 with OTM, one language with its DC byte
        const Bytes management = {0x80, 0x01, 0x23, 0x45, 0x67, 0x80,  // TMD 2, OTM
                                  0x01,                                // num_languages
                                  dmf,  0x55, 'j',  'p',  'n',  0x00,  // tag 0, DMF, DC
                                  0x00, 0x00, 0x00};                   // no data units
        // statement: TMD 1 with STM
        Bytes statement = {0x40, 0x01, 0x23, 0x45, 0x67, 0x80};
        const Bytes units = text_unit(kBodyA);
        statement.insert(statement.end(), {0x00, 0x00, static_cast<uint8_t>(units.size())});
        statement.insert(statement.end(), units.begin(), units.end());
        feed_payload(feed, pes_data(test::join({data_group(0x00, management),
                                                data_group(0x01, statement)})));
        ASSERT_EQ(feed.texts.size(), 1u);
        EXPECT_TRUE(same_bytes(feed.texts[0], kTextA));
        EXPECT_EQ(feed.entry->management.dc, 0x55);
        EXPECT_EQ(feed.entry->management.tmd, 2);
        EXPECT_EQ(feed.entry->statement.tmd, 1);
    }
}

TEST(CaptionDataGroups, SizesPastTheReassembledBytesNeverReadOutside)
{
    CaptionEntry entry = make_caption_entry(kPid, 0);
    auto walk = [&](const Bytes& data) {
        // an exact heap copy, so that AddressSanitizer sees reads past the end
        std::unique_ptr<uint8_t[]> copy(new uint8_t[data.size()]);
        std::copy(data.begin(), data.end(), copy.get());
        return walk_caption_pes_data(entry, copy.get(), data.size(), data.size());
    };
    const Bytes good = test::join({data_group(0x00, management_data({"jpn"})),
                                   data_group(0x01, statement_data(text_unit(kBodyA)))});
    ASSERT_TRUE(walk(pes_data(good)));
    EXPECT_EQ(entry.text_state.text, kTextA);

    // data_group_size past the end: the group is dropped
    Bytes oversize_group = pes_data(data_group(0x01, statement_data(text_unit(kBodyB))));
    oversize_group[3 + 3] = 0x7F;
    EXPECT_FALSE(walk(oversize_group));

    // num_languages past the group (CRC made right): the parse fails, the choice stays
    Bytes many = management_data({"jpn"});
    many[1] = 200;
    EXPECT_TRUE(walk(pes_data(data_group(0x00, many))));
    EXPECT_EQ(entry.management.statement_group_id, 0x01);

    // data_unit_size past the group: that unit is not decoded
    Bytes unit = text_unit(kBodyB);
    unit[2] = 0x10;
    EXPECT_TRUE(walk(pes_data(data_group(0x01, statement_data(unit)))));
    EXPECT_EQ(entry.text_state.text, kTextA);

    // data_unit_loop_length past the group, cut after every possible byte count
    Bytes loop = statement_data(text_unit(kBodyB));
    loop[1] = 0x7F;
    const Bytes whole = pes_data(data_group(0x01, loop));
    for (size_t length = 0; length <= whole.size(); ++length) {
        (void)walk(Bytes(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(length)));
    }
    EXPECT_EQ(entry.text_state.text, kTextB);  // only the whole input decodes
}

TEST(CaptionDataGroups, AStopRequestEndsTheWalk)
{
    CaptionFeed feed(kPid);
    stop_requested.store(1);
    feed_payload(feed, caption_payload(kBodyA));
    stop_requested.store(0);
    EXPECT_TRUE(feed.texts.empty());
}

}  // namespace
}  // namespace qv
