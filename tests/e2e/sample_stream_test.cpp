// The committed sample stream and the generator that makes it: the sample must stay what the
// generator makes, and what the generator makes must read as a broadcast stream through the
// program's own packet, PES and 8-unit code readers.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "arib_text_encoder.h"
#include "arib/arib_text_decoder.h"
#include "arib/arib_text_state.h"
#include "arib/crc16.h"
#include "stream_arguments.h"
#include "e2e/generated_stream.h"
#include "stream_builder.h"
#include "support/caption_builders.h"
#include "support/test_data.h"
#include "ts/packet_header.h"
#include "ts/stream_clock.h"
#include "ts/stream_context.h"

namespace qv {
namespace {

using Bytes = std::vector<uint8_t>;
using test_stream::StreamOptions;

Bytes generate(const StreamOptions& options) { return test::generated_stream(options); }

/// The UTF-8 bytes of a u8 literal, whatever the compiler's execution character set.
std::string utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

const Bytes& sample_file()
{
    static const Bytes sample = test::read_whole_file(test::source_dir() + "/samples/sample.ts");
    return sample;
}

/// CRC-32/MPEG-2 bit by bit, independent of the generator's table: 0 over a section that ends
/// with its own correct CRC_32.
uint32_t crc32_bitwise(const uint8_t* bytes, size_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t index = 0; index < length; ++index) {
        crc ^= static_cast<uint32_t>(bytes[index]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return crc;
}

/// What a walk through a stream with the program's own packet readers found.
struct StreamWalk {
    size_t packets = 0;
    bool synced = true;
    std::map<uint16_t, size_t> pid_packets;
    std::map<uint16_t, int64_t> drops;          ///< per PID, as check_continuity counts them
    std::map<uint16_t, Bytes> first_sections;   ///< first single-packet section per PID
    std::map<uint16_t, int> bad_crc_sections;   ///< sections whose CRC_32 does not match
    std::vector<std::string> caption_texts;     ///< decoded statements, Shift_JIS, in order
    int bad_crc_groups = 0;
    uint64_t pcr_elapsed = 0;                   ///< of the PCR tracker at the end
};

/// Walks the data groups of one caption PES, decoding the statements of group 0x01.
void read_caption_pes(const Bytes& pes, StreamWalk& walk, AribTextState& state)
{
    PesHeaderInfo header;
    ASSERT_TRUE(parse_pes_header(header, pes.data(), pes.size()));
    ASSERT_EQ(header.stream_id, 0xBD);
    ASSERT_EQ(header.pes_packet_length + 6u, pes.size());
    size_t position = header.payload_offset;
    ASSERT_EQ(pes[position], 0x80);      // synchronised PES data
    ASSERT_EQ(pes[position + 1], 0xFF);  // private_stream_id
    position += 3 + (pes[position + 2] & 0x0F);
    ASSERT_LE(position + 7, pes.size());
    const uint8_t group_id = pes[position] >> 2;
    const size_t size = (pes[position + 3] << 8) | pes[position + 4];
    ASSERT_EQ(position + 5 + size + 2, pes.size());
    if (crc16(pes.data() + position, 5 + size + 2) != 0) {
        ++walk.bad_crc_groups;
        return;
    }
    if (group_id != 0x01) {
        return;
    }
    // Statement: TMD byte, data_unit_loop_length, then one unit of parameter 0x20.
    const uint8_t* unit = pes.data() + position + 5 + 4;
    ASSERT_EQ(unit[0], 0x1F);
    ASSERT_EQ(unit[1], 0x20);
    const uint32_t unit_size = (unit[2] << 16) | (unit[3] << 8) | unit[4];
    walk.caption_texts.push_back(decode_arib_text(unit + 5, unit_size, state));
}

StreamWalk walk_stream(const Bytes& stream, size_t unit_size = 188)
{
    StreamWalk walk;
    StreamContext context;
    std::map<uint16_t, Bytes> caption_pes;
    AribTextState caption_state;
    caption_state.text_profile = kProfileFullService;
    reset_designations(caption_state);
    for (size_t offset = 0; offset + unit_size <= stream.size(); offset += unit_size) {
        const uint8_t* packet = stream.data() + offset + unit_size - 188;
        ++walk.packets;
        PidState* state = parse_packet(context, packet);
        if (packet[0] != 0x47 || state == nullptr) {
            walk.synced = false;
            continue;
        }
        ++walk.pid_packets[state->pid];
        if (check_continuity(context, *state)) {
            ++walk.drops[state->pid];
        }
        if (state->adaptation_parsed && state->adaptation.pcr_flag) {
            update_pcr_clock(context.pcr_clock, state->adaptation);
        }
        const uint16_t pid = state->pid;
        if ((pid < 0x0020 || (pid >= 0x01F0 && pid < 0x0200)) && state->unit_start) {
            // Sections start right after pointer_field 0; the tables of these streams fit in one
            // packet each.
            const uint8_t* section = packet + state->payload_offset;
            const size_t length = 3 + (((section[1] & 0x0F) << 8) | section[2]);
            if (state->payload_offset + length <= 188) {
                if (crc32_bitwise(section, length) != 0) {
                    ++walk.bad_crc_sections[pid];
                }
                walk.first_sections.try_emplace(pid, section, section + length);
            }
        }
        if ((pid & 0xFF) == 0x30 && has_payload(*state)) {
            Bytes& pes = caption_pes[pid];
            if (state->unit_start) {
                pes.clear();
            }
            pes.insert(pes.end(), packet + state->payload_offset, packet + 188);
            if (pes.size() >= 6) {
                const size_t total = 6 + ((pes[4] << 8) | pes[5]);
                if (pes.size() >= total) {
                    pes.resize(total);
                    read_caption_pes(pes, walk, caption_state);
                    pes.clear();
                }
            }
        }
    }
    walk.pcr_elapsed = context.pcr_clock.elapsed;
    return walk;
}

/// ES entries of a PMT section: stream_type and PID, with whether a stream_identifier_descriptor
/// gives component tag 0x30.
struct EsEntry {
    uint8_t stream_type = 0;
    uint16_t pid = 0;
    bool caption_tag = false;
};

std::vector<EsEntry> es_entries(const Bytes& pmt)
{
    std::vector<EsEntry> entries;
    size_t position = 12 + (((pmt[10] & 0x0F) << 8) | pmt[11]);
    while (position + 5 <= pmt.size() - 4) {
        EsEntry entry;
        entry.stream_type = pmt[position];
        entry.pid = static_cast<uint16_t>(((pmt[position + 1] & 0x1F) << 8) | pmt[position + 2]);
        const size_t info = ((pmt[position + 3] & 0x0F) << 8) | pmt[position + 4];
        for (size_t at = position + 5; at + 2 < position + 5 + info; at += 2 + pmt[at + 1]) {
            entry.caption_tag |= pmt[at] == 0x52 && pmt[at + 1] >= 1 && pmt[at + 2] == 0x30;
        }
        entries.push_back(entry);
        position += 5 + info;
    }
    return entries;
}

/// Date of an MJD by the formula of ETSI EN 300 468 Annex C (unlike the generator's
/// day-count arithmetic), as "YYYY-MM-DD".
std::string mjd_date(uint16_t mjd)
{
    const int y1 = static_cast<int>((mjd - 15078.2) / 365.25);
    const int m1 = static_cast<int>((mjd - 14956.1 - static_cast<int>(y1 * 365.25)) / 30.6001);
    const int day = mjd - 14956 - static_cast<int>(y1 * 365.25) - static_cast<int>(m1 * 30.6001);
    const int k = (m1 == 14 || m1 == 15) ? 1 : 0;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y1 + k + 1900, m1 - 1 - k * 12, day);
    return text;
}

std::string bcd_time(const uint8_t* bytes)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x", bytes[0], bytes[1], bytes[2]);
    return text;
}

TEST(SampleStream, CommittedSampleIsWhatTheGeneratorMakesNow)
{
    ASSERT_FALSE(sample_file().empty()) << "samples/sample.ts is missing";
    const Bytes made = generate(StreamOptions{});
    ASSERT_EQ(made.size(), sample_file().size()) << "rebuild it with samples/make_sample.sh";
    EXPECT_TRUE(made == sample_file()) << "rebuild it with samples/make_sample.sh";
    EXPECT_LT(sample_file().size(), 1u << 20);
}

TEST(SampleStream, EveryPacketIsSyncedWithUnbrokenCountersAndFiveSecondsOfPcr)
{
    const StreamWalk walk = walk_stream(sample_file());
    EXPECT_EQ(walk.packets * 188, sample_file().size());
    EXPECT_TRUE(walk.synced);
    EXPECT_TRUE(walk.drops.empty()) << "first PID with drops: 0x" << std::hex
                                    << (walk.drops.empty() ? 0 : walk.drops.begin()->first);
    // The PCR runs from the first packet to the last: just under 5 s of 90 kHz ticks.
    EXPECT_GT(walk.pcr_elapsed, 4 * 90000u);
    EXPECT_LE(walk.pcr_elapsed, 5 * 90000u);
}

TEST(SampleStream, PatAndPmtHaveValidCrcsAndThePmtDeclaresTheCaptionPid)
{
    const StreamWalk walk = walk_stream(sample_file());
    EXPECT_TRUE(walk.bad_crc_sections.empty());
    ASSERT_TRUE(walk.first_sections.count(0x0000));
    const Bytes& pat = walk.first_sections.at(0x0000);
    ASSERT_EQ(pat.size(), 8u + 2 * 4 + 4);  // the network entry and one programme
    EXPECT_EQ((pat[8] << 8) | pat[9], 0x0000);             // the network entry …
    EXPECT_EQ(((pat[10] & 0x1F) << 8) | pat[11], 0x0010);  // … names the NIT PID
    EXPECT_EQ((pat[12] << 8) | pat[13], 0x0400);            // program_number
    EXPECT_EQ(((pat[14] & 0x1F) << 8) | pat[15], 0x01F0);  // its PMT PID

    ASSERT_TRUE(walk.first_sections.count(0x01F0));
    const Bytes& pmt = walk.first_sections.at(0x01F0);
    EXPECT_EQ(pmt[0], 0x02);
    EXPECT_EQ(((pmt[8] & 0x1F) << 8) | pmt[9], 0x0111);  // PCR on the video PID
    const std::vector<EsEntry> entries = es_entries(pmt);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].stream_type, 0x02);
    EXPECT_EQ(entries[0].pid, 0x0111);
    EXPECT_EQ(entries[1].stream_type, 0x0F);
    EXPECT_EQ(entries[1].pid, 0x0112);
    EXPECT_EQ(entries[2].stream_type, 0x06);
    EXPECT_EQ(entries[2].pid, 0x0130);
    EXPECT_TRUE(entries[2].caption_tag);
    EXPECT_FALSE(entries[0].caption_tag || entries[1].caption_tag);
}

TEST(SampleStream, CaptionStatementsDecodeToKanaKanjiAndAlphanumerics)
{
    const StreamWalk walk = walk_stream(sample_file());
    EXPECT_EQ(walk.bad_crc_groups, 0);
    ASSERT_EQ(walk.caption_texts.size(), 3u);
    EXPECT_EQ(test::sjis_to_utf8(walk.caption_texts[0]), utf8(u8"こんにちは"));
    EXPECT_EQ(test::sjis_to_utf8(walk.caption_texts[1]), utf8(u8"字幕のテスト"));
    // The alphanumeric set shows full-width letters and digits; SP stays a plain space.
    EXPECT_EQ(test::sjis_to_utf8(walk.caption_texts[2]), utf8(u8"ＡＢＣ １２３"));
}

TEST(SampleStream, TotAndEitCarryTheDocumentedJapanTimes)
{
    const StreamWalk walk = walk_stream(sample_file());
    ASSERT_TRUE(walk.first_sections.count(0x0014));
    const Bytes& tot = walk.first_sections.at(0x0014);
    ASSERT_EQ(tot[0], 0x73);
    EXPECT_EQ(mjd_date(static_cast<uint16_t>((tot[3] << 8) | tot[4])), "2025-04-01");
    EXPECT_EQ(bcd_time(tot.data() + 5), "21:10:00");

    ASSERT_TRUE(walk.first_sections.count(0x0012));
    const Bytes& eit = walk.first_sections.at(0x0012);  // present: section 0
    ASSERT_EQ(eit[0], 0x4E);
    EXPECT_EQ(eit[6], 0);
    EXPECT_EQ(mjd_date(static_cast<uint16_t>((eit[16] << 8) | eit[17])), "2025-04-01");
    EXPECT_EQ(bcd_time(eit.data() + 18), "21:00:00");
    EXPECT_EQ(bcd_time(eit.data() + 21), "00:30:00");
}

TEST(GeneratedStream, TimestampedUnitsCarryTheSamePacketsBehindTheirArrivalTimes)
{
    StreamOptions options;
    options.duration_ms = 1000;
    const Bytes plain = generate(options);
    options.packet_size = 192;
    const Bytes stamped = generate(options);
    ASSERT_EQ(stamped.size() / 192, plain.size() / 188);
    ASSERT_EQ(stamped.size() % 192, 0u);
    uint32_t previous_arrival = 0;
    for (size_t index = 0; index < plain.size() / 188; ++index) {
        const uint8_t* unit = stamped.data() + index * 192;
        ASSERT_EQ(std::memcmp(unit + 4, plain.data() + index * 188, 188), 0) << "packet " << index;
        const uint32_t arrival = (unit[0] << 24) | (unit[1] << 16) | (unit[2] << 8) | unit[3];
        ASSERT_TRUE(index == 0 || arrival > previous_arrival) << "packet " << index;
        previous_arrival = arrival;
    }
    EXPECT_TRUE(walk_stream(stamped, 192).drops.empty());
}

TEST(GeneratedStream, DropEveryLosesExactlyThoseOfTheChosenPid)
{
    StreamOptions options;
    options.duration_ms = 6000;
    const StreamWalk whole = walk_stream(generate(options));
    options.drop_every = 2;
    options.drop_pid = 0x0130;  // the captions: every second caption packet is lost
    const Bytes stream = generate(options);
    EXPECT_EQ(stream.size(), whole.packets * 188);  // lost packets become null packets
    const StreamWalk walk = walk_stream(stream);
    ASSERT_EQ(walk.drops.size(), 1u);
    EXPECT_EQ(walk.drops.begin()->first, 0x0130);
    // Packets 2, 4, … of the PID are lost; each gap shows at the packet after it, so a loss of
    // the very last packet goes unseen.
    const size_t sent = whole.pid_packets.at(0x0130);
    EXPECT_EQ(walk.drops.begin()->second, static_cast<int64_t>((sent - 1) / 2));
    EXPECT_EQ(walk.pid_packets.at(0x0130), sent - sent / 2);
    EXPECT_LT(walk.caption_texts.size(), whole.caption_texts.size());
}

TEST(GeneratedStream, EachProgrammeHasItsOwnPmtCaptionPidAndPcr)
{
    StreamOptions options;
    options.duration_ms = 1000;
    options.bit_rate = 16000000;
    options.programs = 3;
    const StreamWalk walk = walk_stream(generate(options));
    EXPECT_TRUE(walk.bad_crc_sections.empty());
    EXPECT_TRUE(walk.drops.empty());
    const Bytes& pat = walk.first_sections.at(0x0000);
    ASSERT_EQ(pat.size(), 8u + 4 * 4 + 4);
    for (uint16_t index = 0; index < 3; ++index) {
        const uint8_t* entry = pat.data() + 12 + 4 * index;
        EXPECT_EQ((entry[0] << 8) | entry[1], 0x0400 + index);
        const uint16_t pmt_pid = static_cast<uint16_t>(((entry[2] & 0x1F) << 8) | entry[3]);
        ASSERT_TRUE(walk.first_sections.count(pmt_pid)) << "PMT PID " << pmt_pid;
        const Bytes& pmt = walk.first_sections.at(pmt_pid);
        EXPECT_EQ(((pmt[8] & 0x1F) << 8) | pmt[9], 0x0111 + 0x100 * index);
        const std::vector<EsEntry> entries = es_entries(pmt);
        ASSERT_EQ(entries.size(), 3u);
        EXPECT_EQ(entries[2].pid, 0x0130 + 0x100 * index);
        EXPECT_TRUE(entries[2].caption_tag);
    }
    // Each programme says "こんにちは" at 0.5 s.
    EXPECT_EQ(walk.caption_texts.size(), 3u);
}

TEST(GeneratedStream, WithoutCaptionsThePmtListsVideoAndAudioOnly)
{
    StreamOptions options;
    options.duration_ms = 1000;
    options.captions = false;
    const StreamWalk walk = walk_stream(generate(options));
    const std::vector<EsEntry> entries = es_entries(walk.first_sections.at(0x01F0));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(walk.caption_texts.empty());
}

TEST(GeneratedStream, SizeEndsTheStreamAtTheLastWholePacket)
{
    StreamOptions options;
    options.size_bytes = 100000;
    EXPECT_EQ(generate(options).size(), 100000u / 188 * 188);
    options.packet_size = 192;
    EXPECT_EQ(generate(options).size(), 100000u / 192 * 192);
}

TEST(GeneratedStream, OptionsThatCannotMakeAStreamAreRefused)
{
    struct Case {
        const char* name;
        void (*change)(StreamOptions&);
    };
    const Case cases[] = {
        {"no programme", [](StreamOptions& o) { o.programs = 0; }},
        {"nine programmes", [](StreamOptions& o) { o.programs = 9; }},
        {"204-byte packets", [](StreamOptions& o) { o.packet_size = 204; }},
        {"no duration", [](StreamOptions& o) { o.duration_ms = 0; }},
        {"eight programmes in 1 Mbit/s", [](StreamOptions& o) { o.programs = 8; }},
        {"drops on the null PID", [](StreamOptions& o) { o.drop_pid = 0x1FFF; }},
    };
    for (const Case& c : cases) {
        StreamOptions options;
        c.change(options);
        std::string error;
        bool called = false;
        EXPECT_FALSE(test_stream::generate_stream(
            options, [&](const uint8_t*, size_t) { return called = true; }, error))
            << c.name;
        EXPECT_FALSE(called) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
    }
}

TEST(GeneratedStream, ASinkThatFailsStopsTheGenerator)
{
    int calls = 0;
    std::string error;
    EXPECT_FALSE(test_stream::generate_stream(
        StreamOptions{}, [&](const uint8_t*, size_t) { return ++calls < 10; }, error));
    EXPECT_EQ(calls, 10);
    EXPECT_FALSE(error.empty());
}

TEST(AribTextWriter, MixedScriptsReadBackThroughTheDecoder)
{
    struct Case {
        const char8_t* text;
        test_stream::TextProfile profile;
        uint16_t reader_profile;
        const char8_t* shown;
    };
    const Case cases[] = {
        {u8"字幕のテスト", test_stream::TextProfile::caption, kProfileFullService, u8"字幕のテスト"},
        {u8"テストのテスト", test_stream::TextProfile::caption, kProfileFullService,
         u8"テストのテスト"},
        {u8"ABC 123", test_stream::TextProfile::caption, kProfileFullService, u8"ＡＢＣ １２３"},
        {u8"日本語ABCテスト字幕", test_stream::TextProfile::si, kProfileSiText,
         u8"日本語ＡＢＣテスト字幕"},
        {u8"ニュース　次", test_stream::TextProfile::si, kProfileSiText, u8"ニュース　次"},
    };
    for (const Case& c : cases) {
        const std::string text = utf8(c.text);
        test_stream::Bytes encoded;
        ASSERT_TRUE(test_stream::encode_arib_text(text, c.profile, encoded)) << text;
        AribTextState state;
        state.text_profile = c.reader_profile;
        reset_designations(state);
        const std::string decoded =
            decode_arib_text(encoded.data(), static_cast<uint32_t>(encoded.size()), state);
        EXPECT_EQ(test::sjis_to_utf8(decoded), utf8(c.shown)) << text;
    }
}

TEST(AribTextWriter, UnknownCharactersAreRefusedWithoutOutput)
{
    // A kanji outside the writer's table, the two ASCII characters the alphanumeric set cannot
    // show, and a UTF-8 sequence cut short.
    for (const std::string& text : {utf8(u8"字幕の漢"), std::string("a\\b"), std::string("x~"),
                                    std::string("\xE3\x81")}) {
        test_stream::Bytes encoded = {0x0C};
        EXPECT_FALSE(test_stream::encode_arib_text(text, test_stream::TextProfile::si, encoded))
            << text;
        EXPECT_EQ(encoded, test_stream::Bytes{0x0C}) << text;
    }
}

TEST(StreamArguments, ValuesWithUnitsAndTheirRefusals)
{
    test_stream::StreamArguments parsed;
    std::string error;
    ASSERT_TRUE(test_stream::parse_stream_arguments(
        {"--bitrate", "16M", "--size", "1G", "--duration", "2.5", "--drop-pid", "0x130",
         "--start", "2030-12-31T23:59:59", "-o", "out.ts"},
        parsed, error))
        << error;
    EXPECT_EQ(parsed.options.bit_rate, 16000000u);
    EXPECT_EQ(parsed.options.size_bytes, uint64_t{1} << 30);
    EXPECT_EQ(parsed.options.duration_ms, 2500);
    EXPECT_EQ(parsed.options.drop_pid, 0x0130);
    EXPECT_EQ(parsed.options.start.year, 2030);
    EXPECT_EQ(parsed.output_path, "out.ts");

    const std::vector<std::vector<std::string>> refused = {
        {"--bitrate", "16X", "-o", "a"},      {"--duration", "1.2345", "-o", "a"},
        {"--start", "2025-02-29 00:00:00", "-o", "a"}, {"--packet-size", "204", "-o", "a"},
        {"--programs", "2"},                 {"--frobnicate", "1", "-o", "a"},
        {"-o"},                              {"--size", "0", "-o", "a"},
    };
    for (const auto& arguments : refused) {
        EXPECT_FALSE(test_stream::parse_stream_arguments(arguments, parsed, error))
            << arguments[0] << " " << (arguments.size() > 1 ? arguments[1] : "");
    }
}

}  // namespace
}  // namespace qv
