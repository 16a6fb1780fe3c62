// PMT rebuilding: filter mode leaves caption entries (or one PID) out, replace mode puts other
// caption entries in their place; the rebuilt section is written as packets with its own
// continuity counters and must read back as a valid PMT.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "base/console_output.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "support/ffprobe.h"
#include "support/section_builders.h"
#include "support/test_data.h"
#include "ts/crc32_mpeg2.h"
#include "ts/pat_pmt.h"

namespace qv {
namespace {

using test::Bytes;

constexpr uint16_t kPmtPid = 0x01F0;

/// A temporary file name of this test process (several builds may run the suite at once).
std::string scratch_path(const std::string& name)
{
    static const std::string tag = std::to_string(std::random_device{}());
    return platform::temp_directory() + "qv_pmt_rebuild_" + tag + "_" + name;
}

/// An output file for the rebuilt packets, read back after a flush.
struct CapturedOutput {
    explicit CapturedOutput(const std::string& name) : path(scratch_path(name + ".ts"))
    {
        writer.handle = platform::create_for_writing(path);
    }
    ~CapturedOutput()
    {
        platform::close_handle(writer.handle);
        std::remove(path.c_str());
    }
    Bytes bytes()
    {
        flush_packets(writer);
        return test::read_whole_file(path);
    }
    std::string path;
    PacketWriter writer;
};

Bytes video()
{
    return test::es_entry(0x02, 0x0111, test::stream_identifier(0x00));
}
Bytes audio()
{
    return test::es_entry(0x0F, 0x0112, test::stream_identifier(0x10));
}
Bytes caption()
{
    return test::es_entry(0x06, 0x0130, test::stream_identifier(0x30));
}

Bytes joined(const std::vector<Bytes>& packets)
{
    Bytes all;
    for (const Bytes& packet : packets) {
        all.insert(all.end(), packet.begin(), packet.end());
    }
    return all;
}

ProgramEntry& add_program_for_test(StreamContext& context)
{
    context.programs.push_back(ProgramEntry{1, kPmtPid, {}});
    return context.programs.back();
}

/// Feeds a section through parse_pmt with `request`; the result of the last packet.
uint32_t feed(StreamContext& context, ProgramEntry& program, const Bytes& section, uint8_t& counter,
              const PmtRewriteRequest& request)
{
    uint32_t result = 0;
    for (const Bytes& packet : test::section_packets(section, kPmtPid, counter)) {
        PidState* state = test::ingest_packet(context, packet);
        result = state == nullptr ? 0 : parse_pmt(context, program, *state, packet.data(), request);
    }
    return result;
}

/// Parses written packets back with a fresh context; the program's streams.
std::vector<EsEntry> read_back(const Bytes& written, uint32_t& result)
{
    StreamContext context;
    context.programs.push_back(ProgramEntry{1, kPmtPid, {}});
    result = 0;
    for (size_t at = 0; at + 188 <= written.size(); at += 188) {
        Bytes packet(written.begin() + static_cast<ptrdiff_t>(at),
                     written.begin() + static_cast<ptrdiff_t>(at + 188));
        PidState* state = test::ingest_packet(context, packet);
        if (state != nullptr) {
            result |= parse_pmt(context, context.programs[0], *state, packet.data());
        }
    }
    return context.programs[0].streams;
}

TEST(PmtFilter, CaptionEntryLeftOutWithNewLengthCrcAndCountersFromTheFirstPmt)
{
    CapturedOutput output("filter");
    PidCounter counter_state;
    PmtRewriteRequest request{kRemoveCaptionEntries, nullptr, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 7;
    Bytes original =
        test::pmt_section(1, 0x0100, test::concat_bytes({video(), audio(), caption()}));
    EXPECT_EQ(feed(context, program, original, counter, request), kPmtTaken | kPmtWritten);
    // The same PMT again, now arriving with counter 12: the rebuilt counters go on from 7.
    counter = 12;
    EXPECT_EQ(feed(context, program, original, counter, request), kPmtTaken | kPmtWritten);

    // Every ES entry is still recorded, the caption among them.
    ASSERT_EQ(program.streams.size(), 3u);
    EXPECT_TRUE(program.streams[2].is_caption);

    Bytes rebuilt = test::pmt_section(1, 0x0100, test::concat_bytes({video(), audio()}));
    uint8_t expected_counter = 7;
    Bytes expected = joined(test::section_packets(rebuilt, kPmtPid, expected_counter));
    Bytes second = joined(test::section_packets(rebuilt, kPmtPid, expected_counter));
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(output.bytes(), expected);
    EXPECT_EQ(counter_state.packets, 2);
}

TEST(PmtFilter, RemovePidLeavesOnlyThatEntryOutAndKeepsCaptions)
{
    CapturedOutput output("filter_pid");
    PidCounter counter_state;
    PmtRewriteRequest request{0x0112, nullptr, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 0;
    feed(context, program,
         test::pmt_section(1, 0x0100, test::concat_bytes({video(), audio(), caption()})), counter,
         request);
    uint8_t expected_counter = 0;
    EXPECT_EQ(output.bytes(),
              joined(test::section_packets(
                  test::pmt_section(1, 0x0100, test::concat_bytes({video(), caption()})), kPmtPid,
                  expected_counter)));
}

TEST(PmtFilter, NothingIsWrittenWhenEveryEntryIsLeftOutOrNoRewriteIsAsked)
{
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 0;

    CapturedOutput all_out("all_out");
    PidCounter counter_state;
    PmtRewriteRequest only_captions{kRemoveCaptionEntries, nullptr, &all_out.writer,
                                    &counter_state};
    EXPECT_EQ(
        feed(context, program, test::pmt_section(1, 0x0100, caption()), counter, only_captions),
        kPmtTaken);
    EXPECT_TRUE(all_out.bytes().empty());

    // An output without a request word, or a request without an output: parse only.
    CapturedOutput idle("idle");
    PmtRewriteRequest no_word{0, nullptr, &idle.writer, &counter_state};
    PmtRewriteRequest no_output{kRemoveCaptionEntries, nullptr, nullptr, &counter_state};
    PmtRewriteRequest no_counter{kRemoveCaptionEntries, nullptr, &idle.writer, nullptr};
    Bytes pmt = test::pmt_section(1, 0x0100, test::concat_bytes({video(), caption()}));
    EXPECT_EQ(feed(context, program, pmt, counter, no_word), kPmtTaken);
    EXPECT_EQ(feed(context, program, pmt, counter, no_output), kPmtTaken);
    EXPECT_EQ(feed(context, program, pmt, counter, no_counter), kPmtTaken);
    EXPECT_TRUE(idle.bytes().empty());
}

TEST(PmtReplace, VideoWithoutDescriptorsGainsComponentTagZeroAndReplacementsFollow)
{
    CapturedOutput output("replace");
    PidCounter counter_state;
    ByteBuffer replacement;
    Bytes superimpose = test::es_entry(0x06, 0x0138, test::stream_identifier(0x38));
    Bytes other_caption = test::es_entry(0x06, 0x0131, test::stream_identifier(0x30));
    replacement.data = test::concat_bytes({other_caption, superimpose});
    // A request word is ignored once replacement entries are given.
    PmtRewriteRequest request{0x0111, &replacement, &output.writer, &counter_state};

    Bytes h264 = test::es_entry(0x1B, 0x0111);
    h264[3] = 0xA0;  // reserved bits of ES_info_length as a muxer left them
    Bytes mpeg1 = test::es_entry(0x01, 0x0113);
    Bytes aac = test::es_entry(0x0F, 0x0112);  // audio keeps its empty descriptor loop
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 3;
    EXPECT_EQ(feed(context, program,
                   test::pmt_section(1, 0x0100, test::concat_bytes({h264, caption(), aac, mpeg1})),
                   counter, request),
              kPmtTaken | kPmtWritten);
    // The recorded entry keeps its bytes as broadcast.
    EXPECT_EQ(program.streams[0].raw, h264);

    Bytes tagged_h264 = {0x1B, 0xE1, 0x11, 0xA0, 0x03, 0x52, 0x01, 0x00};
    Bytes tagged_mpeg1 = {0x01, 0xE1, 0x13, 0xF0, 0x03, 0x52, 0x01, 0x00};
    uint8_t expected_counter = 3;
    Bytes expected = joined(test::section_packets(
        test::pmt_section(
            1, 0x0100,
            test::concat_bytes({tagged_h264, aac, tagged_mpeg1, other_caption, superimpose})),
        kPmtPid, expected_counter));
    Bytes written = output.bytes();
    EXPECT_EQ(written, expected);

    // Our own parser takes the rebuilt PMT back, replacement captions included.
    uint32_t result = 0;
    std::vector<EsEntry> streams = read_back(written, result);
    EXPECT_EQ(result, kPmtTaken);
    ASSERT_EQ(streams.size(), 5u);
    EXPECT_EQ(streams[0].raw, tagged_h264);
    EXPECT_TRUE(streams[3].is_caption);
    EXPECT_TRUE(streams[4].is_caption);
}

TEST(PmtReplace, AProgrammeOfCaptionsAloneGetsTheReplacementEntries)
{
    // Every entry is a caption and leaves: the new caption entries still make the PMT.
    CapturedOutput output("captions only");
    PidCounter counter_state;
    ByteBuffer replacement;
    const Bytes other_caption = test::es_entry(0x06, 0x0131, test::stream_identifier(0x30));
    replacement.data = other_caption;
    PmtRewriteRequest request{0, &replacement, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 5;
    EXPECT_EQ(feed(context, program, test::pmt_section(1, 0x0100, caption()), counter, request),
              kPmtTaken | kPmtWritten);
    uint8_t expected_counter = 5;
    EXPECT_EQ(output.bytes(), joined(test::section_packets(test::pmt_section(1, 0x0100, other_caption),
                                                           kPmtPid, expected_counter)));
}

TEST(PmtReplace, AReplacementOnAKeptPidIsLeftOutAndABrokenSectionIsNotRebuilt)
{
    // The caption TS's entry on the sound's PID: the PMT must not list that PID twice.
    CapturedOutput output("clash");
    PidCounter counter_state;
    ByteBuffer replacement;
    const Bytes on_audio = test::es_entry(0x06, 0x0112, test::stream_identifier(0x30));
    const Bytes other_caption = test::es_entry(0x06, 0x0131, test::stream_identifier(0x30));
    replacement.data = test::concat_bytes({on_audio, other_caption});
    PmtRewriteRequest request{0, &replacement, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 0;
    EXPECT_EQ(feed(context, program,
                   test::pmt_section(1, 0x0100, test::concat_bytes({video(), audio(), caption()})),
                   counter, request),
              kPmtTaken | kPmtWritten);
    uint8_t expected_counter = 0;
    EXPECT_EQ(output.bytes(),
              joined(test::section_packets(
                  test::pmt_section(1, 0x0100,
                                    test::concat_bytes({video(), audio(), other_caption})),
                  kPmtPid, expected_counter)));

    // program_info_length runs past the CRC_32 (the CRC_32 itself is right): there is no ES
    // loop, and no PMT is made up from the bytes after the header.
    CapturedOutput broken_output("broken");
    request.output = &broken_output.writer;
    Bytes broken = test::pmt_section(1, 0x0100, test::concat_bytes({video(), caption()}));
    broken[10] = 0xF0;
    broken[11] = 0x40;
    const uint32_t crc = crc32_mpeg2(broken.data(), broken.data() + broken.size() - 4);
    for (size_t i = 0; i < 4; ++i) {
        broken[broken.size() - 4 + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
    EXPECT_EQ(feed(context, program, broken, counter, request), 0u);
    EXPECT_TRUE(broken_output.bytes().empty());
}

void check_long_rebuilt_section();

TEST(PmtReplace, RebuiltSectionSpanningPacketsReadsBack)
{
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop ? "stop requested" : "running");
        // A stop request while the section is rebuilt must not cut it: all three packets follow.
        stop_requested.store(stop ? 1 : 0);
        check_long_rebuilt_section();
        stop_requested.store(0);
    }
}

void check_long_rebuilt_section()
{
    // Enough entries that the rebuilt section needs three packets.
    CapturedOutput output("long");
    PidCounter counter_state;
    ByteBuffer replacement;
    for (uint16_t pid = 0x0300; pid < 0x0320; ++pid) {
        Bytes entry = test::es_entry(0x06, pid, test::stream_identifier(0x30));
        replacement.data.insert(replacement.data.end(), entry.begin(), entry.end());
    }
    PmtRewriteRequest request{0, &replacement, &output.writer, &counter_state};
    Bytes loop;
    for (uint16_t pid = 0x0200; pid < 0x0220; ++pid) {
        Bytes entry = test::es_entry(0x02, pid);
        loop.insert(loop.end(), entry.begin(), entry.end());
    }
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 15;
    EXPECT_EQ(feed(context, program, test::pmt_section(1, 0x0100, loop), counter, request),
              kPmtTaken | kPmtWritten);
    Bytes written = output.bytes();
    ASSERT_EQ(written.size(), 3u * 188u);
    EXPECT_EQ(written[3] & 0x0F, 15);
    EXPECT_EQ(written[188 + 3] & 0x0F, 0);
    EXPECT_EQ(written[376 + 3] & 0x0F, 1);
    EXPECT_EQ(written[188 + 1] & 0x40, 0);  // unit start only on the first

    uint32_t result = 0;
    std::vector<EsEntry> streams = read_back(written, result);
    EXPECT_EQ(result, kPmtTaken);
    EXPECT_EQ(streams.size(), 64u);
}

TEST(PmtReplace, SectionTooLongForItsLengthFieldIsNotWritten)
{
    // section_length has 12 bits: 4096 bytes of replacement entries cannot be described.
    CapturedOutput output("oversize");
    PidCounter counter_state;
    ByteBuffer replacement;
    while (replacement.data.size() < 4096) {
        Bytes entry = test::es_entry(0x06, 0x0300, test::descriptor(0xFD, Bytes(250, 0x00)));
        replacement.data.insert(replacement.data.end(), entry.begin(), entry.end());
    }
    PmtRewriteRequest request{0, &replacement, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 0;
    EXPECT_EQ(feed(context, program, test::pmt_section(1, 0x0100, video()), counter, request),
              kPmtTaken);
    EXPECT_TRUE(output.bytes().empty());
    EXPECT_EQ(counter_state.packets, 0);
}

TEST(PmtRebuiltInterop, AnIndependentDemuxerReadsTheFilteredPmt)
{
    CapturedOutput output("interop");
    PidCounter counter_state;
    PmtRewriteRequest request{kRemoveCaptionEntries, nullptr, &output.writer, &counter_state};
    StreamContext context;
    ProgramEntry& program = add_program_for_test(context);
    uint8_t counter = 0;
    Bytes h264 = test::es_entry(0x1B, 0x0111, test::stream_identifier(0x00));
    Bytes aac = test::es_entry(0x0F, 0x0112, test::stream_identifier(0x10));
    feed(context, program, test::pmt_section(1, 0x0111, test::concat_bytes({h264, aac, caption()})),
         counter, request);
    Bytes pmt_packets = output.bytes();
    ASSERT_EQ(pmt_packets.size(), 188u);

    // The demuxer below does not insist on the CRC_32, so check it here bit by bit (no table):
    // over the section as section_length delimits it, the register must end at 0.
    size_t section_end = 5 + 3 + (((pmt_packets[6] & 0x0F) << 8) | pmt_packets[7]);
    ASSERT_LE(section_end, 188u);
    uint32_t crc = 0xFFFFFFFF;
    for (size_t at = 5; at < section_end; ++at) {
        crc ^= uint32_t{pmt_packets[at]} << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(pmt_packets[section_end], 0xFF);  // stuffing follows the section directly

    std::string unavailable;
    if (!test::ffprobe_available(unavailable)) {
        GTEST_SKIP() << unavailable;
    }
    // A stream of PAT and rebuilt PMT, repeated so the demuxer sees them more than once.
    uint8_t pat_counter = 0;
    Bytes pat = test::section_packets(test::pat_section(1, {{1, kPmtPid}}), 0, pat_counter)[0];
    std::string path = scratch_path("interop_stream.ts");
    {
        std::ofstream file(path, std::ios::binary);
        for (int n = 0; n < 20; ++n) {
            pat[3] = static_cast<uint8_t>(0x10 | (n & 0x0F));
            pmt_packets[3] = static_cast<uint8_t>(0x10 | (n & 0x0F));
            file.write(reinterpret_cast<const char*>(pat.data()), 188);
            file.write(reinterpret_cast<const char*>(pmt_packets.data()), 188);
        }
    }
    std::string report;
    bool ok =
        test::run_ffprobe("program=program_id,pmt_pid,pcr_pid,nb_streams:stream=id,codec_name",
                          "compact", path, report);
    std::remove(path.c_str());
    ASSERT_TRUE(ok) << report;
    EXPECT_NE(report.find("program_id=1"), std::string::npos) << report;
    EXPECT_NE(report.find("pmt_pid=496"), std::string::npos) << report;
    EXPECT_NE(report.find("pcr_pid=273"), std::string::npos) << report;
    EXPECT_NE(report.find("nb_streams=2"), std::string::npos) << report;
    EXPECT_NE(report.find("id=0x111"), std::string::npos) << report;
    EXPECT_NE(report.find("id=0x112"), std::string::npos) << report;
    EXPECT_EQ(report.find("id=0x130"), std::string::npos) << report;
}

}  // namespace
}  // namespace qv
