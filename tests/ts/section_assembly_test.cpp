// Section reassembly across packets and the CRC-32 that validates it.
#include "ts/section_assembly.h"

#include <gtest/gtest.h>

#include <string>

#include "support/section_builders.h"
#include "support/test_data.h"
#include "ts/crc32_mpeg2.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::Bytes;

Bytes read_si_sample(const std::string& name)
{
    return test::read_whole_file(test::testdata_dir() + "/si/" + name);
}

uint32_t stated_crc(const Bytes& section)
{
    const uint8_t* at = section.data() + section.size() - 4;
    return (uint32_t{at[0]} << 24) | (uint32_t{at[1]} << 16) | (uint32_t{at[2]} << 8) | at[3];
}

SectionStatus feed(StreamContext& context, const Bytes& packet, uint8_t table_id,
                   UnitStartRule rule = UnitStartRule::restart)
{
    PidState* state = test::ingest_packet(context, packet);
    EXPECT_NE(state, nullptr);
    return state == nullptr ? SectionStatus::rejected
                            : collect_section(*state, packet.data(), table_id, rule);
}

/// The 188-byte packets of a .ts sample.
std::vector<Bytes> packets_of(const Bytes& stream)
{
    std::vector<Bytes> packets;
    for (size_t at = 0; at + 188 <= stream.size(); at += 188) {
        packets.emplace_back(stream.begin() + static_cast<ptrdiff_t>(at),
                             stream.begin() + static_cast<ptrdiff_t>(at + 188));
    }
    return packets;
}

TEST(Crc32Mpeg2, MatchesTheCrcOfRealSectionsAndLeavesNoResidue)
{
    struct Sample {
        const char* file;
        uint32_t crc;
    };
    for (const Sample& sample :
         {Sample{"ariblib_pat_7e87.sec", 0x903F0A85}, Sample{"ariblib_pat_7fe3.sec", 0xAFD541AE},
          Sample{"ariblib_pmt_5c38.sec", 0x32233E76}, Sample{"ariblib_sdt_7e87.sec", 0x2D82292B}}) {
        Bytes section = read_si_sample(sample.file);
        ASSERT_GT(section.size(), 4u) << sample.file;
        const uint8_t* begin = section.data();
        const uint8_t* crc_field = begin + section.size() - 4;
        EXPECT_EQ(crc32_mpeg2(begin, crc_field), sample.crc) << sample.file;
        EXPECT_EQ(stated_crc(section), sample.crc) << sample.file;
        // Over the whole section, CRC_32 included, the register ends at 0 (ISO/IEC 13818-1 B.1).
        EXPECT_EQ(crc32_mpeg2(begin, begin + section.size()), 0u) << sample.file;
    }
}

TEST(Crc32Mpeg2, EmptyRangeGivesTheInitialValue)
{
    uint8_t byte = 0;
    EXPECT_EQ(crc32_mpeg2(&byte, &byte), 0xFFFFFFFFu);
}

TEST(SectionAssembly, RealPmtOverTwoPacketsCompletesWithTheSecondPacket)
{
    std::vector<Bytes> packets = packets_of(read_si_sample("ariblib_pmt_5c38.ts"));
    ASSERT_EQ(packets.size(), 2u);
    StreamContext context;
    EXPECT_EQ(feed(context, packets[0], 0x02), SectionStatus::in_progress);
    EXPECT_EQ(feed(context, packets[1], 0x02), SectionStatus::complete);

    PidState& state = *find_pid_state(context, 0x0101);
    Bytes expected = read_si_sample("ariblib_pmt_5c38.sec");
    ASSERT_EQ(section_offset(state), 5u);
    Bytes collected(state.section_buffer.begin() + 5, state.section_buffer.end());
    EXPECT_EQ(collected, expected);
    // The body cursor stops in front of the CRC_32.
    ByteCursor body = section_body(state);
    EXPECT_EQ(remaining(body), expected.size() - 4);
    // The first packet is kept from its byte 0, TS header included.
    EXPECT_TRUE(
        std::equal(packets[0].begin(), packets[0].begin() + 5, state.section_buffer.begin()));
}

TEST(SectionAssembly, CounterGapAbandonsTheSectionUntilItsNextRepetition)
{
    std::vector<Bytes> packets = packets_of(read_si_sample("ariblib_pmt_5c38.ts"));
    ASSERT_EQ(packets.size(), 2u);
    StreamContext context;
    EXPECT_EQ(feed(context, packets[0], 0x02), SectionStatus::in_progress);
    Bytes late = packets[1];
    late[3] = static_cast<uint8_t>((late[3] & 0xF0) | ((late[3] + 1) & 0x0F));  // skips one
    EXPECT_EQ(feed(context, late, 0x02), SectionStatus::rejected);
    EXPECT_TRUE(find_pid_state(context, 0x0101)->section_buffer.empty());

    // The next repetition, counters continuing after the gap, is taken.
    uint8_t counter = static_cast<uint8_t>((late[3] + 1) & 0x0F);
    std::vector<Bytes> again =
        test::section_packets(read_si_sample("ariblib_pmt_5c38.sec"), 0x0101, counter);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(feed(context, again[0], 0x02), SectionStatus::in_progress);
    EXPECT_EQ(feed(context, again[1], 0x02), SectionStatus::complete);
}

TEST(SectionAssembly, ContinuationsWithoutPendingSectionOrPayloadAreRejected)
{
    Bytes section = test::pmt_section(1, 0x100, Bytes(300, 0));
    uint8_t counter = 0;
    std::vector<Bytes> packets = test::section_packets(section, 0x0101, counter);
    ASSERT_EQ(packets.size(), 2u);

    StreamContext context;
    EXPECT_EQ(feed(context, packets[1], 0x02), SectionStatus::rejected);  // nothing pending

    StreamContext adaptation_only;
    EXPECT_EQ(feed(adaptation_only, packets[0], 0x02), SectionStatus::in_progress);
    Bytes stuffing = packets[1];
    stuffing[3] = static_cast<uint8_t>(0x20 | (stuffing[3] & 0x0F));  // adaptation field only
    stuffing[4] = 183;
    stuffing[5] = 0x00;
    EXPECT_EQ(feed(adaptation_only, stuffing, 0x02), SectionStatus::rejected);
    EXPECT_EQ(find_pid_state(adaptation_only, 0x0101)->section_remaining, 0u);
}

TEST(SectionAssembly, UnitStartsThatDoNotBeginWithTheTableAreRejected)
{
    Bytes section = test::pat_section(1, {{1, 0x100}});
    uint8_t counter = 0;
    Bytes packet = test::section_packets(section, 0x0000, counter)[0];

    StreamContext other_table;
    EXPECT_EQ(feed(other_table, packet, 0x02), SectionStatus::rejected);

    // A non-zero pointer_field: the section is not where the collector looks.
    Bytes pointed(188, 0xFF);
    std::copy_n(packet.begin(), 4, pointed.begin());
    pointed[4] = 2;
    pointed[5] = 0xAA;
    pointed[6] = 0xBB;
    std::copy(section.begin(), section.end(), pointed.begin() + 7);
    StreamContext pointer;
    SectionStatus status = feed(pointer, pointed, 0x00);
    EXPECT_TRUE(status == SectionStatus::rejected || status == SectionStatus::corrupt);

    // An adaptation field before the pointer_field: the payload offset lands on the pointer.
    Bytes with_adaptation(188, 0xFF);
    std::copy_n(packet.begin(), 4, with_adaptation.begin());
    with_adaptation[3] = static_cast<uint8_t>(0x30 | (packet[3] & 0x0F));
    with_adaptation[4] = 1;
    with_adaptation[5] = 0x00;
    with_adaptation[6] = 0x00;  // pointer_field
    std::copy(section.begin(), section.end(), with_adaptation.begin() + 7);
    StreamContext adapted;
    EXPECT_NE(feed(adapted, with_adaptation, 0x00), SectionStatus::complete);
}

TEST(SectionAssembly, CrcMismatchAndImpossibleLengthsResetWithoutAValidSection)
{
    Bytes section = test::pat_section(1, {{1, 0x100}});
    section[9] ^= 0x01;  // program_number changed after the CRC was computed
    uint8_t counter = 0;
    StreamContext context;
    EXPECT_EQ(feed(context, test::section_packets(section, 0, counter)[0], 0x00),
              SectionStatus::corrupt);
    EXPECT_TRUE(find_pid_state(context, 0)->section_buffer.empty());

    // section_length 0 and 2: no room for a CRC_32.
    for (uint8_t length : {0, 2}) {
        Bytes tiny = {0x00, 0xB0, length, 0x12, 0x34};
        StreamContext small;
        EXPECT_EQ(feed(small, test::section_packets(tiny, 0, counter)[0], 0x00),
                  SectionStatus::corrupt)
            << int{length};
        EXPECT_EQ(remaining(section_body(*find_pid_state(small, 0))), 0u);
    }
}

TEST(SectionAssembly, LongestSectionLengthCollectsAcrossManyPackets)
{
    // section_length 4093 spread over 23 packets; a wrong CRC only shows at the very end.
    Bytes section = test::long_section(0x4E, 1, Bytes(4093 - 9, 0x20));
    ASSERT_EQ(section.size(), 4096u);
    uint8_t counter = 0;
    std::vector<Bytes> packets = test::section_packets(section, 0x0012, counter);
    StreamContext context;
    for (size_t n = 0; n + 1 < packets.size(); ++n) {
        ASSERT_EQ(feed(context, packets[n], 0x4E), SectionStatus::in_progress) << n;
    }
    EXPECT_EQ(feed(context, packets.back(), 0x4E), SectionStatus::complete);
    EXPECT_EQ(find_pid_state(context, 0x0012)->section_buffer.size(), 5u + 4096u);
}

TEST(SectionAssembly, PayloadOnlyUnitStartContinuesAPendingSectionOnlyUnderTheEitRule)
{
    Bytes section = test::eit_section(0x5C38, Bytes(250, 0x00));
    // The tail of the section rides in the next unit-start packet, after a pointer_field that
    // says how long it is; a new section would follow it.
    Bytes first(188, 0xFF);
    first[0] = 0x47;
    first[1] = 0x40;
    first[2] = 0x12;
    first[3] = 0x10;
    first[4] = 0;
    std::copy_n(section.begin(), 183, first.begin() + 5);
    size_t tail = section.size() - 183;
    Bytes second(188, 0xFF);
    second[0] = 0x47;
    second[1] = 0x40;
    second[2] = 0x12;
    second[3] = 0x11;
    second[4] = static_cast<uint8_t>(tail);
    std::copy(section.begin() + 183, section.end(), second.begin() + 5);

    StreamContext eit_rule;
    EXPECT_EQ(feed(eit_rule, first, 0x4E, UnitStartRule::continue_if_pending),
              SectionStatus::in_progress);
    EXPECT_EQ(feed(eit_rule, second, 0x4E, UnitStartRule::continue_if_pending),
              SectionStatus::complete);
    EXPECT_EQ(section_offset(*find_pid_state(eit_rule, 0x0012)), 5u);

    StreamContext restart_rule;
    EXPECT_EQ(feed(restart_rule, first, 0x4E), SectionStatus::in_progress);
    EXPECT_EQ(feed(restart_rule, second, 0x4E), SectionStatus::rejected);
}

}  // namespace
}  // namespace qv
