// The PAT and PMT handlers: program list, ES lists, caption detection, PCR PIDs and the bounds
// of every walk.
#include "ts/pat_pmt.h"

#include <gtest/gtest.h>

#include <string>

#include "base/console_output.h"
#include "support/section_builders.h"
#include "support/test_data.h"

namespace qv {
namespace {

using test::Bytes;

Bytes read_si(const std::string& name)
{
    return test::read_whole_file(test::testdata_dir() + "/si/" + name);
}

/// Feeds every packet of `stream` to parse_pat; the result of the last one.
bool feed_pat(StreamContext& context, const Bytes& stream)
{
    bool result = false;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        Bytes packet(stream.begin() + static_cast<ptrdiff_t>(at),
                     stream.begin() + static_cast<ptrdiff_t>(at + 188));
        PidState* state = test::ingest_packet(context, packet);
        result = state != nullptr && parse_pat(context, *state, packet.data());
    }
    return result;
}

/// Feeds a PMT section (split into packets of `pid`) to parse_pmt; the result of the last packet.
uint32_t feed_pmt(StreamContext& context, ProgramEntry& program, const Bytes& section, uint16_t pid,
                  uint8_t& counter)
{
    uint32_t result = 0;
    for (const Bytes& packet : test::section_packets(section, pid, counter)) {
        PidState* state = test::ingest_packet(context, packet);
        result = state == nullptr ? 0 : parse_pmt(context, program, *state, packet.data());
    }
    return result;
}

ProgramEntry& add_program(StreamContext& context, uint16_t number, uint16_t pmt_pid)
{
    context.programs.push_back(ProgramEntry{number, pmt_pid, {}});
    return context.programs.back();
}

TEST(PatParse, NetworkEntryAndProgramBecomeTwoEntriesAndTheCrcIsNoEntry)
{
    StreamContext context;
    uint8_t counter = 0;
    Bytes section = test::pat_section(0x7FE3, {{0x0000, 0x0010}, {0x0400, 0x01F0}});
    Bytes packets;
    for (const Bytes& packet : test::section_packets(section, 0, counter)) {
        packets.insert(packets.end(), packet.begin(), packet.end());
    }
    EXPECT_TRUE(feed_pat(context, packets));
    ASSERT_EQ(context.programs.size(), 2u);
    EXPECT_EQ(context.programs[0].program_number, 0x0000);
    EXPECT_EQ(context.programs[0].pmt_pid, 0x0010);
    EXPECT_EQ(context.programs[1].program_number, 0x0400);
    EXPECT_EQ(context.programs[1].pmt_pid, 0x01F0);
    EXPECT_EQ(find_program_by_pmt_pid(context, 0x01F0), &context.programs[1]);
    EXPECT_EQ(find_program_by_pmt_pid(context, 0x0000), nullptr);
    EXPECT_EQ(find_program_by_pmt_pid(context, 0x0101), nullptr);
}

TEST(PatParse, RealPatsGiveTheirProgramLists)
{
    StreamContext context;
    EXPECT_TRUE(feed_pat(context, read_si("ariblib_pat_7e87.ts")));
    std::vector<std::pair<uint16_t, uint16_t>> expected = {
        {0x0000, 0x0010}, {0x5C38, 0x0101}, {0x5C39, 0x0102}, {0x5DB8, 0x1FC8}, {0x5DB9, 0x1FC9}};
    ASSERT_EQ(context.programs.size(), expected.size());
    for (size_t n = 0; n < expected.size(); ++n) {
        EXPECT_EQ(context.programs[n].program_number, expected[n].first) << n;
        EXPECT_EQ(context.programs[n].pmt_pid, expected[n].second) << n;
    }

    // A later PAT replaces the list as a whole.
    StreamContext other;
    EXPECT_TRUE(feed_pat(other, read_si("ariblib_pat_7fe3.ts")));
    std::vector<std::pair<uint16_t, uint16_t>> five = {
        {0, 16}, {1048, 257}, {1049, 258}, {1432, 8136}, {1183, 2032}};
    ASSERT_EQ(other.programs.size(), five.size());
    for (size_t n = 0; n < five.size(); ++n) {
        EXPECT_EQ(other.programs[n].program_number, five[n].first) << n;
        EXPECT_EQ(other.programs[n].pmt_pid, five[n].second) << n;
    }
}

TEST(PatParse, EndMarkerStopsTheWalkAndBrokenPatsKeepTheOldList)
{
    StreamContext context;
    uint8_t counter = 0;
    Bytes packets;
    for (const Bytes& packet : test::section_packets(
             test::pat_section(1, {{0x0001, 0x0100}, {0xFFFF, 0x1FFF}, {0x0002, 0x0200}}), 0,
             counter)) {
        packets.insert(packets.end(), packet.begin(), packet.end());
    }
    EXPECT_TRUE(feed_pat(context, packets));
    ASSERT_EQ(context.programs.size(), 1u);
    EXPECT_EQ(context.programs[0].pmt_pid, 0x0100);

    Bytes broken = test::pat_section(1, {{0x0003, 0x0300}});
    broken[9] ^= 0xFF;
    Bytes broken_packet = test::section_packets(broken, 0, counter)[0];
    EXPECT_FALSE(feed_pat(context, broken_packet));
    ASSERT_EQ(context.programs.size(), 1u);
    EXPECT_EQ(context.programs[0].pmt_pid, 0x0100);

    // A PAT on another PID is not taken.
    Bytes elsewhere = test::section_packets(test::pat_section(1, {{4, 0x400}}), 0x0100, counter)[0];
    PidState* state = test::ingest_packet(context, elsewhere);
    ASSERT_NE(state, nullptr);
    EXPECT_FALSE(parse_pat(context, *state, elsewhere.data()));
    EXPECT_EQ(context.programs.size(), 1u);
}

TEST(PcrPidRegistry, EightSlotsThenRefusalAndTheNullPidCounts)
{
    StreamContext context;
    for (uint16_t pid = 0x100; pid < 0x108; ++pid) {
        EXPECT_TRUE(register_pcr_pid(context, pid)) << pid;
    }
    EXPECT_TRUE(register_pcr_pid(context, 0x103));   // already there
    EXPECT_FALSE(register_pcr_pid(context, 0x108));  // a ninth distinct PID
    EXPECT_FALSE(is_pcr_pid(context, 0x108));

    StreamContext null_pid;
    uint8_t counter = 0;
    ProgramEntry& program = add_program(null_pid, 1, 0x01F0);
    feed_pmt(null_pid, program, test::pmt_section(1, 0x1FFF, test::es_entry(0x02, 0x111)), 0x01F0,
             counter);
    EXPECT_TRUE(is_pcr_pid(null_pid, 0x1FFF));
}

TEST(PmtParse, RealPmtOverTwoPacketsGivesElevenStreamsAndNoCaption)
{
    StreamContext context;
    ProgramEntry& program = add_program(context, 0x5C38, 0x0101);
    Bytes stream = read_si("ariblib_pmt_5c38.ts");
    ASSERT_EQ(stream.size(), 376u);
    uint32_t results[2] = {};
    for (size_t n = 0; n < 2; ++n) {
        Bytes packet(stream.begin() + static_cast<ptrdiff_t>(n * 188),
                     stream.begin() + static_cast<ptrdiff_t>(n * 188 + 188));
        PidState* state = test::ingest_packet(context, packet);
        ASSERT_NE(state, nullptr);
        results[n] = parse_pmt(context, program, *state, packet.data());
    }
    EXPECT_EQ(results[0], 0u);
    EXPECT_EQ(results[1], kPmtTaken);
    EXPECT_TRUE(is_pcr_pid(context, 0x0100));

    struct Expected {
        uint16_t type;
        uint16_t pid;
        size_t raw_size;
    };
    const Expected streams[] = {{0x02, 0x121, 5 + 6},  {0x0F, 0x112, 5 + 3},  {0x0D, 0x740, 5 + 15},
                                {0x0D, 0x750, 5 + 10}, {0x0D, 0x751, 5 + 10}, {0x0D, 0x752, 5 + 10},
                                {0x0D, 0x960, 5 + 10}, {0x0D, 0x961, 5 + 10}, {0x0D, 0x75E, 5 + 16},
                                {0x0D, 0x75F, 5 + 16}, {0x0D, 0x96E, 5 + 16}};
    ASSERT_EQ(program.streams.size(), std::size(streams));
    for (size_t n = 0; n < std::size(streams); ++n) {
        EXPECT_EQ(program.streams[n].stream_type, streams[n].type) << n;
        EXPECT_EQ(program.streams[n].pid, streams[n].pid) << n;
        EXPECT_EQ(program.streams[n].raw.size(), streams[n].raw_size) << n;
        EXPECT_FALSE(program.streams[n].is_caption) << n;
    }
    EXPECT_TRUE(context.captions.empty());
}

TEST(PmtParse, CaptionEntriesAreStreamType6WithACaptionComponentTag)
{
    struct Case {
        uint8_t stream_type;
        uint16_t pid;
        Bytes descriptors;
        bool caption;
    };
    const Case cases[] = {
        {0x06, 0x130, test::stream_identifier(0x30), true},
        {0x06, 0x138, test::stream_identifier(0x38), true},
        {0x06, 0x187, test::stream_identifier(0x87), true},
        {0x06, 0x188, test::stream_identifier(0x88), true},
        {0x06, 0x131, test::stream_identifier(0x31), false},
        {0x06, 0x13F, test::stream_identifier(0x3F), false},
        {0x0D, 0x230, test::stream_identifier(0x30), false},   // not private data
        {0x06, 0x330, test::descriptor(0x52, {}), false},      // no component_tag
        {0x06, 0x430, test::descriptor(0x09, {0x30}), false},  // another descriptor
        {0x06, 0x530,
         test::concat_bytes({test::descriptor(0xFD, {0x00, 0x08}), test::stream_identifier(0x30)}),
         true},                                               // found behind another descriptor
        {0x06, 0x000, test::stream_identifier(0x30), false},  // PID 0
    };
    for (const Case& c : cases) {
        StreamContext context;
        ProgramEntry& program = add_program(context, 1, 0x01F0);
        uint8_t counter = 0;
        Bytes section =
            test::pmt_section(1, 0x100, test::es_entry(c.stream_type, c.pid, c.descriptors));
        EXPECT_EQ(feed_pmt(context, program, section, 0x01F0, counter), kPmtTaken);
        ASSERT_EQ(program.streams.size(), 1u);
        EXPECT_EQ(program.streams[0].is_caption, c.caption) << std::hex << c.pid;
        EXPECT_EQ(find_caption_entry(context, c.pid) != nullptr, c.caption) << std::hex << c.pid;
        EXPECT_EQ(context.captions.size(), c.caption ? 1u : 0u) << std::hex << c.pid;
    }
}

TEST(PmtParse, PartialReceptionPmtGivesProfileOneAndEntriesKeepTheirProfile)
{
    StreamContext context;
    add_program(context, 0x5DB8, 0x1FC8);
    add_program(context, 0x5C38, 0x0101);
    ProgramEntry& one_seg = context.programs[0];
    ProgramEntry& full = context.programs[1];
    uint8_t counter_one_seg = 0;
    uint8_t counter_full = 0;
    feed_pmt(context, one_seg,
             test::pmt_section(0x5DB8, 0x1FF,
                               test::es_entry(0x06, 0x0587, test::stream_identifier(0x87))),
             0x1FC8, counter_one_seg);
    feed_pmt(context, full,
             test::pmt_section(
                 0x5C38, 0x100,
                 test::concat_bytes({test::es_entry(0x06, 0x0130, test::stream_identifier(0x30)),
                                     test::es_entry(0x06, 0x0587, test::stream_identifier(0x87))})),
             0x0101, counter_full);
    ASSERT_EQ(context.captions.size(), 2u);
    CaptionEntry* partial = find_caption_entry(context, 0x0587);
    CaptionEntry* main = find_caption_entry(context, 0x0130);
    ASSERT_NE(partial, nullptr);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(partial->text_state.text_profile, kProfilePartialService);
    EXPECT_EQ(main->text_state.text_profile, kProfileFullService);
    EXPECT_EQ(find_caption_entry(context, 0), nullptr);

    // A later PMT without the caption stream replaces the ES list but keeps the caption entry.
    feed_pmt(context, full, test::pmt_section(0x5C38, 0x100, test::es_entry(0x02, 0x0111)), 0x0101,
             counter_full);
    ASSERT_EQ(full.streams.size(), 1u);
    EXPECT_NE(find_caption_entry(context, 0x0130), nullptr);
}

TEST(PmtWalk, LengthsPastTheCrcEndTheWalkWithoutReadingFurther)
{
    // ES_info_length of the second entry claims more than is left before the CRC_32.
    Bytes loop = test::concat_bytes(
        {test::es_entry(0x02, 0x111), test::es_entry(0x06, 0x130, test::stream_identifier(0x30))});
    loop[5 + 4] = 0x40;  // claims 64 descriptor bytes, 3 present
    StreamContext context;
    ProgramEntry& program = add_program(context, 1, 0x01F0);
    uint8_t counter = 0;
    EXPECT_EQ(feed_pmt(context, program, test::pmt_section(1, 0x100, loop), 0x01F0, counter),
              kPmtTaken);
    ASSERT_EQ(program.streams.size(), 1u);
    EXPECT_EQ(program.streams[0].pid, 0x111);
    EXPECT_TRUE(context.captions.empty());

    // A descriptor length past its entry ends the descriptor walk: no caption.
    Bytes descriptor_overrun = test::es_entry(0x06, 0x130, {0x52, 0x05, 0x30});
    StreamContext second;
    ProgramEntry& program2 = add_program(second, 1, 0x01F0);
    EXPECT_EQ(feed_pmt(second, program2, test::pmt_section(1, 0x100, descriptor_overrun), 0x01F0,
                       counter),
              kPmtTaken);
    EXPECT_FALSE(program2.streams[0].is_caption);

    // program_info_length past the CRC_32: a valid section without ES loop.
    Bytes section = test::pmt_section(1, 0x100, test::es_entry(0x02, 0x111));
    section[11] = 0xFF;
    test::put_crc(section);
    StreamContext third;
    ProgramEntry& program3 = add_program(third, 1, 0x01F0);
    program3.streams.push_back(EsEntry{0x02, 0x999, {}, false});
    EXPECT_EQ(feed_pmt(third, program3, section, 0x01F0, counter), 0u);
    EXPECT_TRUE(program3.streams.empty());
    EXPECT_TRUE(is_pcr_pid(third, 0x100));
}

TEST(PmtWalk, AStopRequestNeverCutsTheWalkShort)
{
    // The pump checks the stop request between packets; a section is taken whole or not at all.
    StreamContext context;
    ProgramEntry& program = add_program(context, 1, 0x01F0);
    uint8_t counter = 0;
    Bytes section =
        test::pmt_section(1, 0x100, test::es_entry(0x06, 0x130, test::stream_identifier(0x30)));
    stop_requested.store(1);
    uint32_t result = feed_pmt(context, program, section, 0x01F0, counter);
    stop_requested.store(0);
    EXPECT_EQ(result, kPmtTaken);
    EXPECT_EQ(program.streams.size(), 1u);
    EXPECT_EQ(context.captions.size(), 1u);
}

}  // namespace
}  // namespace qv
