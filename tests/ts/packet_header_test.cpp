#include "ts/packet_header.h"

#include <gtest/gtest.h>

#include "support/ts_builders.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using test::Bytes;
using test::PacketOptions;

PacketOptions unit_start()
{
    PacketOptions options;
    options.unit_start = true;
    return options;
}
PacketOptions transport_error()
{
    PacketOptions options;
    options.transport_error = true;
    return options;
}
PacketOptions with_adaptation(Bytes field, bool unit = false, bool payload = true)
{
    PacketOptions options;
    options.unit_start = unit;
    options.adaptation = std::move(field);
    options.payload = payload;
    return options;
}

TEST(PacketParsing, RejectsMissingPacketsAndBadSyncBytes)
{
    StreamContext context;
    EXPECT_EQ(parse_packet(context, nullptr), nullptr);
    Bytes packet = test::make_packet(0x100, 0);
    packet[0] = 0x48;
    EXPECT_EQ(parse_packet(context, packet.data()), nullptr);
    EXPECT_TRUE(context.pid_states.empty());

    StreamContextList contexts;
    StreamContext* found = nullptr;
    packet[0] = 0x47;
    EXPECT_EQ(parse_packet(contexts, 0, packet.data(), found), nullptr);  // no context 0 yet
    ASSERT_NE(get_stream_context(contexts, 0), nullptr);
    EXPECT_NE(parse_packet(contexts, 0, packet.data(), found), nullptr);
    EXPECT_EQ(found, contexts.front().get());
    EXPECT_EQ(get_stream_context(contexts, 0), found);
}

TEST(PacketParsing, PidStatesKeepTheOrderOfFirstAppearance)
{
    StreamContext context;
    for (uint16_t pid : {0x1FF, 0x000, 0x130, 0x000, 0x1FF, 0x1F0}) {
        const Bytes packet = test::make_packet(pid, 0);
        const PidState* state = parse_packet(context, packet.data());
        ASSERT_NE(state, nullptr);
        EXPECT_EQ(state->pid, pid);
        EXPECT_EQ(find_pid_state(context, pid), state);
    }
    ASSERT_EQ(context.pid_states.size(), 4u);
    EXPECT_EQ(context.pid_states[0]->pid, 0x1FF);
    EXPECT_EQ(context.pid_states[1]->pid, 0x000);
    EXPECT_EQ(context.pid_states[2]->pid, 0x130);
    EXPECT_EQ(context.pid_states[3]->pid, 0x1F0);
}

TEST(PacketParsing, TransportErrorDiscardsThePidStateAndALaterPacketStartsAfresh)
{
    StreamContext context;
    for (uint8_t counter : {3, 4, 6}) {
        const Bytes packet = test::make_packet(0x130, counter);
        PidState* state = parse_packet(context, packet.data());
        ASSERT_NE(state, nullptr);
        (void)check_continuity(context, *state);
    }
    EXPECT_EQ(find_pid_state(context, 0x130)->drops, 1);
    find_pid_state(context, 0x130)->section_buffer = {1, 2, 3};

    const Bytes broken = test::make_packet(0x130, 7, {}, transport_error());
    EXPECT_EQ(parse_packet(context, broken.data()), nullptr);
    EXPECT_EQ(find_pid_state(context, 0x130), nullptr);
    EXPECT_TRUE(context.pid_states.empty());

    const Bytes next = test::make_packet(0x130, 12);
    PidState* state = parse_packet(context, next.data());
    ASSERT_NE(state, nullptr);
    EXPECT_FALSE(check_continuity(context, *state));
    EXPECT_EQ(state->drops, 0);
    EXPECT_EQ(state->packets, 1);
    EXPECT_TRUE(state->section_buffer.empty());
}

TEST(PacketParsing, PayloadOffsets)
{
    struct Case {
        const char* name;
        Bytes packet;
        uint8_t payload_offset;
    };
    const Bytes pes = test::pes_header(0xBD, 100, 90000);
    const Case cases[] = {
        {"continuation", test::make_packet(0x100, 0, {1, 2}), 4},
        {"section start: past the pointer_field", test::make_packet(0x100, 0, {0x00, 0x02}, unit_start()), 5},
        {"PES start: no pointer_field", test::make_packet(0x100, 0, pes, unit_start()), 4},
        {"adaptation field", test::make_packet(0x100, 0, {1}, with_adaptation(test::pcr_adaptation(5))), 12},
        {"adaptation field and section start: at the pointer_field",
         test::make_packet(0x100, 0, {0x00, 0x02}, with_adaptation({0x00}, true)), 6},
        {"adaptation field only", test::make_packet(0x100, 0, {}, with_adaptation(Bytes(183, 0xFF), false, false)), 188},
    };
    for (const Case& c : cases) {
        PidState state;
        ASSERT_TRUE(parse_packet_header(state, c.packet.data())) << c.name;
        EXPECT_EQ(state.payload_offset, c.payload_offset) << c.name;
        EXPECT_TRUE(state.header_valid);
    }
}

TEST(PacketParsing, AdaptationLengthPastThePacketLeavesNoPayloadAndReadsNothingOutside)
{
    Bytes packet = test::make_packet(0x100, 0, {}, with_adaptation({0x10, 0, 0, 0, 0, 0, 0}, true));
    packet[4] = 0xFF;  // claims 255 bytes, 183 exist
    PidState state;
    ASSERT_TRUE(parse_packet_header(state, packet.data()));
    EXPECT_EQ(state.payload_offset, 188);
    EXPECT_EQ(payload_length(state), 0u);
    EXPECT_EQ(state.unit_start_offset, 188);
    EXPECT_FALSE(state.pes_parsed);
    EXPECT_TRUE(state.adaptation_parsed);
    EXPECT_EQ(state.adaptation.adaptation_field_length, 255);
}

TEST(AdaptationField, PcrBaseAndFlags)
{
    AdaptationFieldInfo info;
    const Bytes field = test::concat({{7}, test::pcr_adaptation(0x1FFFFFFFF, 0x1FF, 0x80)});
    parse_adaptation_field(info, field.data(), field.size());
    EXPECT_EQ(info.pcr_flag, 1);
    EXPECT_EQ(info.discontinuity_indicator, 1);
    EXPECT_EQ(info.random_access_indicator, 0);
    EXPECT_EQ(info.pcr_base, 0x1FFFFFFFFu);

    // A PCR announced by the flag but cut off by the length is not taken.
    const Bytes short_field = {3, 0x10, 0x12, 0x34};
    parse_adaptation_field(info, short_field.data(), short_field.size());
    EXPECT_EQ(info.pcr_flag, 0);
    EXPECT_EQ(info.pcr_base, 0u);

    const Bytes empty = {0, 0xFF, 0xFF};
    parse_adaptation_field(info, empty.data(), empty.size());
    EXPECT_EQ(info.adaptation_field_length, 0);
    EXPECT_EQ(info.random_access_indicator, 0);
}

TEST(PesHeader, TimeStampsAndPayloadPosition)
{
    PesHeaderInfo info;
    const Bytes both = test::pes_header(0xE0, 0, 0x1ABCDEF01, 0x100000000);
    ASSERT_TRUE(parse_pes_header(info, both.data(), both.size()));
    EXPECT_EQ(info.packet_start_code_prefix, 1u);
    EXPECT_TRUE(info.has_optional_header);
    EXPECT_EQ(info.pts_dts_flags, 3);
    EXPECT_EQ(info.pts, 0x1ABCDEF01u);  // bit 32 set: at least 2^32
    EXPECT_EQ(info.dts, 0x100000000u);
    EXPECT_EQ(info.payload_offset, 19u);

    const Bytes private2 = test::pes_header(0xBF, 20);
    ASSERT_TRUE(parse_pes_header(info, private2.data(), private2.size()));
    EXPECT_FALSE(info.has_optional_header);
    EXPECT_EQ(info.payload_offset, 6u);
    EXPECT_EQ(info.pes_packet_length, 20);

    // A time stamp announced past the available bytes fails the parse.
    EXPECT_FALSE(parse_pes_header(info, both.data(), 16));
    EXPECT_FALSE(parse_pes_header(info, both.data(), 5));
}

TEST(PesHeader, PacketWithoutUnitStartKeepsThePidsLastPesHeader)
{
    StreamContext context;
    const Bytes start = test::make_packet(0x130, 0, test::pes_header(0xBD, 300, 12345), unit_start());
    const Bytes more = test::make_packet(0x130, 1, {1, 2, 3});
    PidState* state = parse_packet(context, start.data());
    ASSERT_TRUE(state && state->pes_parsed);
    EXPECT_EQ(state->unit_start_offset, 4);
    state = parse_packet(context, more.data());
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->pes_parsed);
    EXPECT_EQ(state->pes.pts, 12345u);
    EXPECT_EQ(state->unit_start_offset, 4);

    // A section start on the PID ends that.
    const Bytes section = test::make_packet(0x130, 2, {0x00, 0x02, 0xB0}, unit_start());
    state = parse_packet(context, section.data());
    EXPECT_FALSE(state->pes_parsed);
    EXPECT_EQ(state->unit_start_offset, 5);
}

/// Feeds the counters of one PID and returns the drop verdict of each packet.
std::vector<bool> continuity_of(std::initializer_list<int> counters, uint16_t pid = 0x130,
                                bool pcr_pid = false, int adaptation_only_at = -1)
{
    StreamContext context;
    if (pcr_pid) {
        context.pcr_pid_set[3] = pid;
    }
    std::vector<bool> verdicts;
    int index = 0;
    for (int counter : counters) {
        const Bytes packet = index == adaptation_only_at
                                 ? test::make_packet(pid, static_cast<uint8_t>(counter), {},
                                                     with_adaptation(test::pcr_adaptation(1), false, false))
                                 : test::make_packet(pid, static_cast<uint8_t>(counter), {0x01});
        PidState* state = parse_packet(context, packet.data());
        verdicts.push_back(state != nullptr && check_continuity(context, *state));
        if (state != nullptr) {
            EXPECT_EQ(state->dropped_last, verdicts.back());
        }
        ++index;
    }
    return verdicts;
}

TEST(ContinuityCheck, Drops)
{
    using V = std::vector<bool>;
    // Counters run 0..15 and wrap to 0 without a drop; the first packet never counts.
    EXPECT_EQ(continuity_of({14, 15, 0, 1}), V({false, false, false, false}));
    EXPECT_EQ(continuity_of({9}), V({false}));
    EXPECT_EQ(continuity_of({5, 7, 8}), V({false, true, false}));    // a gap
    EXPECT_EQ(continuity_of({5, 5, 6}), V({false, true, false}));    // a duplicate counts
    // An adaptation-only packet keeps its counter: it counts as a break too.
    EXPECT_EQ(continuity_of({5, 6, 6, 7}, 0x130, false, 2), V({false, false, true, false}));
}

TEST(ContinuityCheck, PcrPidsAndNullPacketsAreNotExamined)
{
    using V = std::vector<bool>;
    EXPECT_EQ(continuity_of({5, 9, 9, 2}, 0x1FF, true), V({false, false, false, false}));
    EXPECT_EQ(continuity_of({5, 9, 9, 2}, kNullPid), V({false, false, false, false}));

    StreamContext context;
    context.pcr_pid_set[0] = 0x1FF;
    const Bytes packet = test::make_packet(0x1FF, 3);
    PidState* state = parse_packet(context, packet.data());
    (void)check_continuity(context, *state);
    EXPECT_EQ(state->packets, 0);  // not even counted
    EXPECT_EQ(state->drops, 0);
}

TEST(ContinuityCheck, PcrPidSetMatchesEverySlotAndNothingElse)
{
    for (size_t slot = 0; slot < kPcrPidSlots; ++slot) {
        StreamContext context;
        context.pcr_pid_set[slot] = 0x0101;
        EXPECT_TRUE(is_pcr_pid(context, 0x0101)) << slot;
        for (uint16_t other : {0x0000, 0x0100, 0x0102, 0x0001, 0x1FFF, 0x1101}) {
            EXPECT_FALSE(is_pcr_pid(context, other)) << slot << " " << other;
        }
    }
    StreamContext full;
    for (size_t slot = 0; slot < kPcrPidSlots; ++slot) {
        full.pcr_pid_set[slot] = static_cast<uint16_t>(0x1F8 + slot);
    }
    EXPECT_TRUE(is_pcr_pid(full, 0x1FF));
    EXPECT_FALSE(is_pcr_pid(full, 0x200));
}

TEST(ContinuityCheck, CountsPacketsAndDropsPerPid)
{
    StreamContext context;
    for (int counter : {0, 1, 3, 4, 4, 5}) {
        for (uint16_t pid : {0x100, 0x101}) {
            const Bytes packet = test::make_packet(pid, static_cast<uint8_t>(pid == 0x100 ? counter : 0));
            (void)check_continuity(context, *parse_packet(context, packet.data()));
        }
    }
    EXPECT_EQ(find_pid_state(context, 0x100)->packets, 6);
    EXPECT_EQ(find_pid_state(context, 0x100)->drops, 2);
    EXPECT_EQ(find_pid_state(context, 0x101)->drops, 5);
}

}  // namespace
}  // namespace qv
