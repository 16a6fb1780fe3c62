// Filter mode end to end: the stream without its captions, rebuilt PMTs (section, CRC and
// continuity), the network PID, -eit, transport errors, early caption packets, standard output,
// and how filter and extract split a stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "e2e/stream_fixture.h"
#include "support/ffprobe.h"

namespace qv::test {
namespace {

constexpr uint16_t kNitPid = 0x0010;
constexpr uint16_t kPmt2Pid = 0x01F1;
constexpr uint16_t kCaption2Pid = 0x0131;
constexpr uint16_t kVideo2Pid = 0x0101;
constexpr uint8_t kPmt2FirstCounter = 7;

/// Fills in section_length and appends the CRC-32.
StreamBytes finished(StreamBytes section)
{
    const size_t length = section.size() - 3 + 4;
    section[1] = static_cast<uint8_t>(0xB0 | (length >> 8));
    section[2] = static_cast<uint8_t>(length);
    return with_crc(section);
}

/// PAT with the network PID (program 0) and programs 1 and 2.
StreamBytes three_entry_pat()
{
    return finished({0x00, 0, 0, 0x00, 0x01, 0xC1, 0x00, 0x00, 0x00, 0x00, 0xE0, kNitPid, 0x00,
                     0x01, 0xE1, 0xF0, 0x00, 0x02, 0xE1, 0xF1});
}

/// The PMT of `program` as the rebuild must write it: the video entry alone.
StreamBytes pmt_without_caption(uint16_t program, uint16_t video_pid)
{
    return finished({0x02, 0, 0, 0x00, static_cast<uint8_t>(program), 0xC1, 0x00, 0x00,
                     static_cast<uint8_t>(0xE0 | (kPcrPid >> 8)), static_cast<uint8_t>(kPcrPid),
                     0xF0, 0x00, 0x02, static_cast<uint8_t>(0xE0 | (video_pid >> 8)),
                     static_cast<uint8_t>(video_pid), 0xF0, 0x03, 0x52, 0x01, 0x00});
}

/// EIT section of `table_id` (0x4E present/following, 0x50 schedule).
StreamBytes eit_of_table(uint8_t table_id)
{
    const int start[6] = {2024, 1, 2, 20, 0, 0};
    StreamBytes section = eit_section(0x0400, 0, 1, start, 30, {0x46, 0x7C});
    section.resize(section.size() - 4);
    section[0] = table_id;
    return with_crc(section);
}

struct TwoProgramBroadcast {
    StreamBytes bytes;
    size_t early_caption = 0;  ///< index of the caption packet before the first PMT
    size_t error_packet = 0;   ///< index of the packet with transport_error_indicator
};

/// Two programs with video and captions each, an audio PID, NIT, SDT, EIT p/f and schedule,
/// TOT, a caption packet before the first PAT and one damaged packet.
TwoProgramBroadcast make_two_program_broadcast(int seconds)
{
    TwoProgramBroadcast made;
    StreamWriter writer;
    writer.counters[kPmt2Pid] = kPmt2FirstCounter;
    made.early_caption = writer.bytes.size() / 188;
    put_packet(writer, kCaptionPid, false, StreamBytes(184, 0x33));
    for (int k = 0; k < seconds; ++k) {
        const uint64_t pcr = 900000 + static_cast<uint64_t>(k) * kTicks;
        put_section(writer, 0x0000, three_entry_pat());
        put_section(writer, kNitPid, finished({0x40, 0, 0, 0x00, 0x04, 0xC1, 0x00, 0x00, 0xF0,
                                               0x00, 0xF0, 0x00}));
        put_section(writer, kPmtPid, pmt_section(1, kPcrPid, kCaptionPid, kVideoPid));
        put_section(writer, kPmt2Pid, pmt_section(2, kPcrPid, kCaption2Pid, kVideo2Pid));
        put_pcr(writer, kPcrPid, pcr);
        put_pes(writer, kVideoPid, 0xE0, pcr + 9000, std::nullopt, StreamBytes(100, 0x11));
        put_pes(writer, kVideo2Pid, 0xE0, pcr + 9000, std::nullopt, StreamBytes(100, 0x12));
        put_packet(writer, 0x0110, false, StreamBytes(184, 0x44));  // audio
        put_caption(writer, kCaptionPid, pcr + 9000, kNihon);
        put_caption(writer, kCaption2Pid, pcr + 9000, kHonjitsu);
        if (k == 1) {
            made.error_packet = writer.bytes.size() / 188;
            put_packet(writer, 0x0110, false, StreamBytes(184, 0x45));
            writer.bytes[made.error_packet * 188 + 1] |= 0x80;
        }
        put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
        put_section(writer, 0x0012, eit_of_table(0x4E));
        put_section(writer, 0x0012, eit_of_table(0x50));
        const int now[6] = {2024, 1, 2, 20, 0, k};
        put_section(writer, 0x0014, tot_section(now));
    }
    made.bytes = writer.bytes;
    return made;
}

bool is_caption(uint16_t pid) { return pid == kCaptionPid || pid == kCaption2Pid; }
bool is_pmt(uint16_t pid) { return pid == kPmtPid || pid == kPmt2Pid; }

const uint8_t* packet_at(const StreamBytes& bytes, size_t index) { return &bytes[index * 188]; }

class FilterMode : public ScratchStreamTest {
protected:
    FilterMode() : ScratchStreamTest("filter") {}
};

TEST_F(FilterMode, OutputIsTheInputWithoutCaptionsAndWithRebuiltPmts)
{
    const int seconds = 4;
    const TwoProgramBroadcast stream = make_two_program_broadcast(seconds);
    const std::string source = write_source(stream.bytes);
    const std::string out = dir_ + "out.ts";
    const ProgramRun run =
        run_quilvaren({"-mode", "filter", "-noprogress", "-filterpath", out, source});
    EXPECT_EQ(run.exit_code, 0);
    const StreamBytes filtered = file_bytes(out);

    // Every packet but the PMTs, captions (the early one stays) and the damaged one, in order;
    // the NIT stays.
    const StreamBytes expected_rest = keep_packets(stream.bytes, [&](size_t i, uint16_t pid) {
        return !is_pmt(pid) && i != stream.error_packet &&
               (!is_caption(pid) || i == stream.early_caption);
    });
    const StreamBytes rest = keep_packets(filtered, [](size_t, uint16_t pid) { return !is_pmt(pid); });
    EXPECT_EQ(rest, expected_rest);
    const std::vector<uint16_t> pids = packet_pids(filtered);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kNitPid), seconds);

    // Each PMT comes back once per repetition, in its place, without the caption entry, with
    // a valid CRC-32 and counters that go on from the input's first PMT packet of its PID.
    struct Expect {
        uint16_t pid;
        uint16_t program;
        uint16_t video;
        uint8_t first_counter;
    };
    for (const Expect& e : {Expect{kPmtPid, 1, kVideoPid, 0},
                            Expect{kPmt2Pid, 2, kVideo2Pid, kPmt2FirstCounter}}) {
        const StreamBytes section = pmt_without_caption(e.program, e.video);
        int seen = 0;
        for (size_t i = 0; i < pids.size(); ++i) {
            if (pids[i] != e.pid) {
                continue;
            }
            const uint8_t* packet = packet_at(filtered, i);
            EXPECT_EQ(packet[1] & 0x40, 0x40);
            EXPECT_EQ(packet[3] & 0x0F, (e.first_counter + seen) & 0x0F) << e.pid;
            EXPECT_EQ(packet[4], 0);  // pointer_field
            EXPECT_EQ(StreamBytes(packet + 5, packet + 5 + section.size()), section) << e.pid;
            // The previous packet is the one the input had before its PMT.
            ++seen;
        }
        EXPECT_EQ(seen, seconds) << e.pid;
    }
    // PMT 1 comes right after the NIT, PMT 2 right after PMT 1 (the early caption shifts all).
    EXPECT_EQ(pids[3], kPmtPid);
    EXPECT_EQ(pids[4], kPmt2Pid);
}

TEST_F(FilterMode, FfprobeReadsTheRebuiltProgramsWithoutSubtitles)
{
    std::string unavailable;
    if (!ffprobe_available(unavailable)) {
        GTEST_SKIP() << unavailable;
    }
    const std::string source = write_source(make_two_program_broadcast(3).bytes);
    const std::string out = dir_ + "out.ts";
    ASSERT_EQ(run_quilvaren({"-mode", "filter", "-noprogress", "-filterpath", out, source}).exit_code,
              0);
    std::string probed;
    ASSERT_TRUE(run_ffprobe("stream=id,codec_type", "csv", out, probed)) << probed;
    EXPECT_EQ(probed.find("subtitle"), std::string::npos) << probed;
    EXPECT_EQ(probed.find("CRC"), std::string::npos) << probed;
    EXPECT_NE(probed.find("0x100"), std::string::npos) << probed;
    EXPECT_NE(probed.find("0x101"), std::string::npos) << probed;
}

TEST_F(FilterMode, EitOptionRemovesOnlyPresentFollowingSections)
{
    const int seconds = 3;
    const TwoProgramBroadcast stream = make_two_program_broadcast(seconds);
    const std::string source = write_source(stream.bytes);
    const std::string out = dir_ + "out.ts";
    ASSERT_EQ(run_quilvaren({"-mode", "filter", "-noprogress", "-eit", "-filterpath", out, source})
                  .exit_code,
              0);
    const StreamBytes filtered = file_bytes(out);
    const std::vector<uint16_t> pids = packet_pids(filtered);
    int schedule = 0;
    for (size_t i = 0; i < pids.size(); ++i) {
        if (pids[i] == 0x0012) {
            EXPECT_EQ(packet_at(filtered, i)[5], 0x50);
            ++schedule;
        }
    }
    EXPECT_EQ(schedule, seconds);
    // SDT and TOT stay without their own options.
    EXPECT_EQ(std::count(pids.begin(), pids.end(), 0x0011), seconds);
    EXPECT_EQ(std::count(pids.begin(), pids.end(), 0x0014), seconds);
}

TEST_F(FilterMode, StandardOutputCarriesTheStreamAndNoConsoleText)
{
    const TwoProgramBroadcast stream = make_two_program_broadcast(2);
    const std::string source = write_source(stream.bytes);
    const std::string out = dir_ + "out.ts";
    ASSERT_EQ(run_quilvaren({"-mode", "filter", "-noprogress", "-filterpath", out, source})
                  .exit_code,
              0);
    const ProgramRun run =
        run_quilvaren({"-mode", "filter", "-filterpath", "CON", "-detail", source});
    EXPECT_EQ(run.exit_code, 0);
    const StreamBytes written = file_bytes(out);
    ASSERT_GE(run.out.size(), written.size());
    EXPECT_EQ(StreamBytes(run.out.begin(), run.out.begin() + static_cast<std::ptrdiff_t>(
                                                                 written.size())),
              written);
    EXPECT_EQ(run.out.find("FILTER CAPTION"), std::string::npos);
}

TEST_F(FilterMode, CaptionLinesTellThePidAndTheClock)
{
    const std::string source = write_source(make_two_program_broadcast(1).bytes);
    const ProgramRun run = run_quilvaren(
        {"-mode", "filter", "-noprogress", "-filterpath", dir_ + "out.ts", source});
    EXPECT_NE(run.out.find("－ FILTER CAPTION PID 0x0130 PCR 0:00:00.000 0x000000000 +0x0        \r\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("－ FILTER CAPTION PID 0x0131 PCR "), std::string::npos);
}

TEST_F(FilterMode, FilterAndExtractSplitTheCaptionPackets)
{
    const TwoProgramBroadcast stream = make_two_program_broadcast(3);
    const std::string source = write_source(stream.bytes);
    const std::string filtered = dir_ + "filtered.ts";
    const std::string captions = dir_ + "captions.ts";
    ASSERT_EQ(run_quilvaren({"-mode", "filter", "-noprogress", "-filterpath", filtered, source})
                  .exit_code,
              0);
    const ProgramRun extract =
        run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", captions, source});
    EXPECT_GT(extract.exit_code, 0);

    // Extract of the filtered stream finds no caption: its PMTs announce none.
    const ProgramRun again = run_quilvaren(
        {"-mode", "extract", "-noprogress", "-nodel", "-cappath", dir_ + "again.ts", filtered});
    EXPECT_EQ(again.exit_code, 0);

    // Each caption packet of the input is in exactly one of the two outputs.
    const auto caption_packets = [](const StreamBytes& bytes) {
        return keep_packets(bytes, [](size_t, uint16_t pid) { return is_caption(pid); });
    };
    const StreamBytes in_filtered = caption_packets(file_bytes(filtered));
    const StreamBytes in_extract = caption_packets(file_bytes(captions));
    EXPECT_EQ(in_filtered.size() + in_extract.size(), caption_packets(stream.bytes).size());
    EXPECT_EQ(in_filtered, StreamBytes(packet_at(stream.bytes, stream.early_caption),
                                       packet_at(stream.bytes, stream.early_caption) + 188));
}

}  // namespace
}  // namespace qv::test
