// Extract mode end to end: what the caption TS holds, the exit code, ranges, start offsets,
// input forms and standard output as the target.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <fstream>
#include <set>

#include "e2e/stream_fixture.h"

namespace qv::test {
namespace {

constexpr uint64_t kFirstPcr = 900000;

/// A stream of `seconds` seconds: program tables, a PCR, a video PES (PTS; PTS and DTS from the
/// second on) with a continuation packet, a caption, SDT, EIT and TOT each second.
struct Broadcast {
    StreamBytes bytes;
    size_t first_pcr = 0;
    size_t first_pts = 0;
    size_t first_dts = 0;
    int caption_packets = 0;
};

Broadcast make_broadcast(int seconds, bool captions = true)
{
    Broadcast made;
    StreamWriter writer;
    const int start[6] = {2024, 1, 2, 20, 0, 0};
    const auto index = [&writer] { return writer.bytes.size() / 188; };
    for (int k = 0; k < seconds; ++k) {
        put_program(writer);
        if (k == 0) {
            made.first_pcr = index();
        }
        put_pcr(writer, kPcrPid, kFirstPcr + static_cast<uint64_t>(k) * kTicks);
        const uint64_t pts = kFirstPcr + static_cast<uint64_t>(k) * kTicks + 9000;
        if (k == 0) {
            made.first_pts = index();
        } else if (k == 1) {
            made.first_dts = index();
        }
        put_pes(writer, kVideoPid, 0xE0, pts,
                k == 0 ? std::nullopt : std::optional<uint64_t>(pts - 3003), StreamBytes(100, 0x11));
        put_packet(writer, kVideoPid, false, StreamBytes(184, 0x22));
        if (captions) {
            const size_t before = index();
            put_caption(writer, kCaptionPid, pts, k % 3 == 2 ? kHonjitsu : kNihon);
            made.caption_packets += static_cast<int>(index() - before);
        }
        put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
        put_section(writer, 0x0012, eit_section(0x0400, 0, 1, start, 30, {0x46, 0x7C}));
        const int now[6] = {2024, 1, 2, 20, 0, k};
        put_section(writer, 0x0014, tot_section(now));
    }
    made.bytes = writer.bytes;
    return made;
}

class ExtractMode : public ScratchStreamTest {
protected:
    ExtractMode() : ScratchStreamTest("extract") {}
};

TEST_F(ExtractMode, CaptionTsHoldsTablesCaptionsAndTheFirstPacketOfEachClock)
{
    const Broadcast stream = make_broadcast(4);
    const std::string source = write_source(stream.bytes);
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", source});
    EXPECT_EQ(run.exit_code, stream.caption_packets);

    const StreamBytes expected = keep_packets(stream.bytes, [&](size_t i, uint16_t pid) {
        return pid == 0 || pid == kPmtPid || pid == kCaptionPid || i == stream.first_pcr ||
               i == stream.first_pts || i == stream.first_dts;
    });
    EXPECT_EQ(file_bytes(dir_ + "rec.quilvaren.ts"), expected);
}

TEST_F(ExtractMode, SiTablesJoinOnlyWhenAskedFor)
{
    const Broadcast stream = make_broadcast(3);
    const std::string source = write_source(stream.bytes);
    struct Case {
        const char* option;
        uint16_t pid;
    };
    for (const Case& c : {Case{"-sdt", 0x0011}, Case{"-eit", 0x0012}, Case{"-tot", 0x0014}}) {
        const std::string out = dir_ + "out" + c.option + ".ts";
        const ProgramRun run =
            run_quilvaren({"-mode", "extract", "-noprogress", c.option, "-cappath", out, source});
        const std::vector<uint16_t> pids = packet_pids(file_bytes(out));
        const std::set<uint16_t> seen(pids.begin(), pids.end());
        for (uint16_t si : {uint16_t{0x0011}, uint16_t{0x0012}, uint16_t{0x0014}}) {
            EXPECT_EQ(seen.count(si), si == c.pid ? 1u : 0u) << c.option << " pid " << si;
        }
        EXPECT_EQ(std::count(pids.begin(), pids.end(), c.pid), 3) << c.option;
    }
}

TEST_F(ExtractMode, StreamWithoutCaptionsLeavesNoCaptionTsUnlessNodel)
{
    const Broadcast stream = make_broadcast(2, false);
    const std::string source = write_source(stream.bytes);
    ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", source});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(read_whole_file(dir_ + "rec.quilvaren.ts").empty());
    EXPECT_FALSE(std::ifstream(dir_ + "rec.quilvaren.ts").good());

    run = run_quilvaren({"-mode", "extract", "-noprogress", "-nodel", source});
    EXPECT_EQ(run.exit_code, 0);
    const std::vector<uint16_t> pids = packet_pids(file_bytes(dir_ + "rec.quilvaren.ts"));
    EXPECT_FALSE(pids.empty());
    EXPECT_EQ(std::count(pids.begin(), pids.end(), kCaptionPid), 0);
}

TEST_F(ExtractMode, CapstrCountsChangedTextsAndPrintsEachOnItsOwnLine)
{
    // Texts per second: 日本 日本 本日 日本 日本 → three changes.
    const Broadcast stream = make_broadcast(5);
    const std::string source = write_source(stream.bytes);
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-capstr", source});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.out, "日本\r\n本日\r\n日本\r\n\n");
}

TEST_F(ExtractMode, DetailMarksEachCaptionPacketWithTheStreamClock)
{
    const Broadcast stream = make_broadcast(2);
    const std::string source = write_source(stream.bytes);
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-detail", source});
    // One second in, after the first TOT: 90000 ticks of the PCR clock.
    const std::string head = "－ CAPTION PCR 0:00:01.000 0x000015f90 TOT 2024/01/02 20:00:00 +0x";
    const size_t at = run.out.find(head);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.compare(run.out.find('\r', at) - 8, 9, "        \r"), 0);
    EXPECT_EQ(run_quilvaren({"-mode", "extract", source}).out.find("CAPTION"), std::string::npos);
}

/// One PCR and one caption packet per second for `seconds` seconds, after the tables.
StreamBytes ticking_stream(int seconds)
{
    StreamWriter writer;
    for (int k = 0; k < seconds; ++k) {
        // Packets outside the ranges are not parsed: the tables repeat, as in a broadcast.
        put_program(writer);
        put_pcr(writer, kPcrPid, kFirstPcr + static_cast<uint64_t>(k) * kTicks);
        put_packet(writer, kCaptionPid, false, StreamBytes(184, static_cast<uint8_t>(k)));
    }
    return writer.bytes;
}

TEST_F(ExtractMode, DurationRangesGateCaptionsByStreamTime)
{
    const std::string source = write_source(ticking_stream(30));
    struct Case {
        const char* ranges;
        int captions;  // captions at 0 s, 1 s, … whose time lies in the ranges
    };
    const Case cases[] = {
        {"10", 10},             // 0..9 s; the pump stops when the clock reaches 10 s
        // 5 s to the end; the PMT of second 5 comes before its PCR (at 4 s, outside), so the
        // caption PID is known from second 6 on
        {"0:0:5-", 24},
        {"0:0:0-0:0:3,0:0:10-0:0:12", 6},  // 0..3 s and 10..11 s
    };
    for (const Case& c : cases) {
        const ProgramRun run =
            run_quilvaren({"-mode", "extract", "-noprogress", "-duration", c.ranges, source});
        EXPECT_EQ(run.exit_code, c.captions) << c.ranges;
    }
}

TEST_F(ExtractMode, ClockStartPacketsBeforeTheRangesStayOut)
{
    // The first PCR, PTS and DTS packets lie in seconds 0 and 1; a range from 2 s on writes no
    // packet from outside it, those included.
    const Broadcast stream = make_broadcast(4);
    const std::string source = write_source(stream.bytes);
    const std::string out = dir_ + "ranged.ts";
    (void)run_quilvaren(
        {"-mode", "extract", "-noprogress", "-duration", "0:0:2-", "-cappath", out, source});
    const StreamBytes written = file_bytes(out);
    ASSERT_FALSE(written.empty());
    for (const size_t index : {stream.first_pcr, stream.first_pts, stream.first_dts}) {
        const StreamBytes packet(stream.bytes.begin() + static_cast<std::ptrdiff_t>(index * 188),
                                 stream.bytes.begin() + static_cast<std::ptrdiff_t>(index * 188 + 188));
        EXPECT_EQ(std::search(written.begin(), written.end(), packet.begin(), packet.end()),
                  written.end())
            << "packet " << index;
    }
}

TEST_F(ExtractMode, DetailLinesShowTheClockAlsoBeforeItStarts)
{
    StreamWriter writer;
    put_program(writer);
    put_packet(writer, kCaptionPid, false, StreamBytes(184, 0x44));  // before any PCR or PTS
    put_pcr(writer, kPcrPid, kFirstPcr);
    const std::string source = write_source(writer.bytes);
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-detail", source});
    EXPECT_NE(run.out.find("－ CAPTION PCR 0:00:00.000 0x000000000 +0x"), std::string::npos)
        << run.out;
}

TEST_F(ExtractMode, OneColonMeansHoursAndMinutes)
{
    // A caption every ten seconds for 25 minutes: 0:10-0:20 keeps minute 10 to minute 20.
    StreamWriter writer;
    for (int k = 0; k < 150; ++k) {
        put_program(writer);
        put_pcr(writer, kPcrPid, kFirstPcr + static_cast<uint64_t>(k) * 10 * kTicks);
        put_packet(writer, kCaptionPid, false, StreamBytes(184, 0x33));
    }
    const std::string source = write_source(writer.bytes);
    const ProgramRun run =
        run_quilvaren({"-mode", "extract", "-noprogress", "-duration", "0:10-0:20", source});
    // The PMT of each step precedes its PCR: the one of 610 s is the first inside, and the
    // pump stops when the clock reaches 1200 s: captions of 610 s … 1190 s.
    EXPECT_EQ(run.exit_code, 59);
}

TEST_F(ExtractMode, StartOffsetSkipsBytesOrStartsAtTheEnd)
{
    const StreamBytes bytes = ticking_stream(20);  // PAT, PMT, PCR, caption per second
    const std::string source = write_source(bytes);
    // From byte 1880 on: packet 10, the PCR of second 2. Its caption (11) precedes the next
    // PMT and is no caption yet; seconds 3 to 19 bring 17.
    ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-nodel", source + ";1880"});
    EXPECT_EQ(run.exit_code, 17);
    EXPECT_EQ(file_bytes(dir_ + "rec.quilvaren.ts"),
              keep_packets(bytes, [](size_t i, uint16_t pid) {
                  return i == 10 || (i > 11 && pid != kPcrPid);
              }));

    run = run_quilvaren({"-mode", "extract", "-noprogress", "-nodel", source + ";-1"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(file_bytes(dir_ + "rec.quilvaren.ts").empty());
}

TEST_F(ExtractMode, TimestampedInputAndLeadingGarbageGiveThePlainCaptionTs)
{
    const Broadcast stream = make_broadcast(3);
    const StreamBytes expected = keep_packets(stream.bytes, [&](size_t i, uint16_t pid) {
        return pid == 0 || pid == kPmtPid || pid == kCaptionPid || i == stream.first_pcr ||
               i == stream.first_pts || i == stream.first_dts;
    });

    StreamBytes units;
    for (size_t at = 0; at < stream.bytes.size(); at += 188) {
        append(units, {0x00, 0x12, 0x34, static_cast<uint8_t>(at / 188)});
        append(units, StreamBytes(stream.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                  stream.bytes.begin() + static_cast<std::ptrdiff_t>(at + 188)));
    }
    const std::string timestamped = write_source(units, "units.ts");
    ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", timestamped});
    EXPECT_EQ(run.exit_code, stream.caption_packets);
    EXPECT_EQ(file_bytes(dir_ + "units.quilvaren.ts"), expected);

    // A lone sync byte in the garbage is no packet.
    StreamBytes garbage(150, 0x00);
    garbage[20] = 0x47;
    append(garbage, stream.bytes);
    const std::string dirty = write_source(garbage, "dirty.ts");
    run = run_quilvaren({"-mode", "extract", "-noprogress", dirty});
    EXPECT_EQ(run.exit_code, stream.caption_packets);
    EXPECT_EQ(file_bytes(dir_ + "dirty.quilvaren.ts"), expected);
}

TEST_F(ExtractMode, RealTimestampedRecordingGives188BytePackets)
{
    const std::string source = testdata_dir() + "/arib-ts/aijin.ts192-padff.ts";
    const std::string out = dir_ + "aijin.ts";
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", out, source});
    const StreamBytes bytes = file_bytes(out);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes.size() % 188, 0u);
    for (size_t at = 0; at < bytes.size(); at += 188) {
        ASSERT_EQ(bytes[at], 0x47) << at;
    }
    const std::vector<uint16_t> pids = packet_pids(bytes);
    const auto captions = std::count(pids.begin(), pids.end(), kCaptionPid);
    EXPECT_EQ(run.exit_code, expected_exit_status(captions));
}

TEST_F(ExtractMode, CountsAbove255ExitWithTheLargestStatusAndTheDetailLineKeepsTheTotal)
{
    // A shell reads only 8 bits of a POSIX status: 256 captions must not read as "none found".
    const std::string source = testdata_dir() + "/arib-ts/chibi_maruko_chan.tot.ts";
    const std::string out = dir_ + "many.ts";
    const ProgramRun run =
        run_quilvaren({"-mode", "extract", "-noprogress", "-detail", "-cappath", out, source});
    const std::vector<uint16_t> pids = packet_pids(file_bytes(out));
    const auto captions = std::count(pids.begin(), pids.end(), kCaptionPid);
    ASSERT_GT(captions, 255);
    EXPECT_EQ(run.exit_code, expected_exit_status(captions));
    const std::string detail = "－ 終了します. ( 戻り値 : " + std::to_string(captions) + " )\n";
    EXPECT_TRUE(run.out.ends_with(detail)) << run.out.substr(run.out.size() > 80 ? run.out.size() - 80 : 0);
}

TEST_F(ExtractMode, StandardOutputCarriesTheStreamAndNothingElse)
{
    const Broadcast stream = make_broadcast(3);
    const std::string source = write_source(stream.bytes);
    const StreamBytes expected = keep_packets(stream.bytes, [&](size_t i, uint16_t pid) {
        return pid == 0 || pid == kPmtPid || pid == kCaptionPid || i == stream.first_pcr ||
               i == stream.first_pts || i == stream.first_dts;
    });
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-capstr", "-drop"}, {"-noprogress"}}) {
        std::vector<std::string> arguments = {"-mode", "extract", "-cappath", "CON"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(source);
        const ProgramRun run = run_quilvaren(arguments);
        EXPECT_EQ(StreamBytes(run.out.begin(), run.out.end()), expected) << options[0];
        EXPECT_GT(run.exit_code, 0);
    }
}

}  // namespace
}  // namespace qv::test
