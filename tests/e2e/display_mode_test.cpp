// Display mode end to end: caption texts once per change, the -detail lines, -dump, and the
// progress and drop lines with the end-of-pass report.
#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <sstream>

#include "e2e/stream_fixture.h"

namespace qv::test {
namespace {

std::string hex(size_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%zX", value);
    return text;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

size_t count_of(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

class DisplayMode : public ScratchStreamTest {
protected:
    DisplayMode() : ScratchStreamTest("display") {}
};

TEST_F(DisplayMode, EachChangedCaptionTextIsPrintedOnceInStreamOrder)
{
    StreamWriter writer;
    put_program(writer);
    const StreamBytes* texts[] = {&kNihon, &kNihon, &kHonjitsu, &kHonjitsu, &kNihon};
    uint64_t pts = 900000;
    for (const StreamBytes* text : texts) {
        put_pcr(writer, kPcrPid, pts);
        put_caption(writer, kCaptionPid, pts, *text);
        pts += kTicks;
    }
    const ProgramRun run = run_quilvaren({write_source(writer.bytes)});
    EXPECT_EQ(run.exit_code, 3);
    EXPECT_EQ(run.out, "日本\r\n本日\r\n日本\r\n\n");
}

TEST_F(DisplayMode, RealCaptionStreamsShowEveryTextOnceAsExtractFindsThem)
{
    for (const char* name : {"chibi_maruko_chan.tot.ts", "aijin.ts192-padff.ts",
                             "pokemon-2023.wrap.ts", "toriko_subs.nopcr.ts"}) {
        const std::string source = testdata_dir() + "/arib-ts/" + name;
        const ProgramRun display = run_quilvaren({"-noprogress", source});
        const std::vector<std::string> lines = lines_of(display.out);
        ASSERT_FALSE(lines.empty()) << name;
        EXPECT_EQ(display.exit_code, expected_exit_status(static_cast<long long>(lines.size())))
            << name;
        for (size_t i = 1; i < lines.size(); ++i) {
            EXPECT_NE(lines[i], lines[i - 1]) << name << " line " << i;
        }
        const ProgramRun extract = run_quilvaren(
            {"-mode", "extract", "-capstr", "-noprogress", "-cappath", dir_ + "x.ts", source});
        EXPECT_EQ(extract.out, display.out) << name;
    }
}

/// Program tables, then per second a PCR, a TOT and a caption; SDT once.
struct DetailStream {
    StreamBytes bytes;
    std::vector<size_t> caption_starts;  ///< packet index of each caption PES start
};

DetailStream detail_stream()
{
    DetailStream made;
    StreamWriter writer;
    put_program(writer);
    put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
    for (int k = 0; k < 3; ++k) {
        const uint64_t pts = 900000 + static_cast<uint64_t>(k) * kTicks;
        put_pcr(writer, kPcrPid, pts);
        const int now[6] = {2024, 1, 2, 20, 0, k};
        put_section(writer, 0x0014, tot_section(now));
        made.caption_starts.push_back(writer.bytes.size() / 188);
        put_caption(writer, kCaptionPid, pts, k == 1 ? kHonjitsu : kNihon);
        put_section(writer, 0x0011, sdt_section(0x0400, {0x46, 0x7C}, {0x4B, 0x5C}));
    }
    made.bytes = writer.bytes;
    return made;
}

TEST_F(DisplayMode, DetailShowsCaptionTimesAndServiceNamesOnlyWithDetail)
{
    const DetailStream stream = detail_stream();
    const std::string source = write_source(stream.bytes);
    const ProgramRun plain = run_quilvaren({source});
    EXPECT_EQ(plain.out, "日本\r\n本日\r\n日本\r\n\n");

    const ProgramRun detail = run_quilvaren({"-detail", source});
    // The PTS clock starts at the first caption; one second later its line carries the TOT.
    const std::string second_line = "－ CAPTION PID 0x0130 PTS 0:00:01.000 0x0000f1b30 "
                                    "TOT 2024/01/02 20:00:01 +0x" +
                                    hex(stream.caption_starts[1] * 188) + "        \n\r";
    EXPECT_NE(detail.out.find(second_line), std::string::npos) << detail.out;
    const std::string first_line = "－ CAPTION PID 0x0130 PTS 0:00:00.000 0x0000dbba0 "
                                   "TOT 2024/01/02 20:00:00 +0x" +
                                   hex(stream.caption_starts[0] * 188) + "        \n\r";
    EXPECT_NE(detail.out.find(first_line), std::string::npos) << detail.out;
    // The service line appears once: later SDTs repeat the same names.
    EXPECT_EQ(count_of(detail.out, "0x0400 日 本 \r\n"), 1u) << detail.out;
    EXPECT_NE(detail.out.find("本日\r\n"), std::string::npos);
    EXPECT_EQ(detail.exit_code, 3);
}

TEST_F(DisplayMode, DetailShowsTheProgrammeWhenANewEventBegins)
{
    StreamWriter writer;
    put_program(writer);
    const int first[6] = {2024, 1, 2, 20, 0, 0};
    const int second[6] = {2024, 1, 2, 20, 30, 0};
    put_section(writer, 0x0012, eit_section(0x0400, 0, 1, first, 30, {0x46, 0x7C}));
    put_section(writer, 0x0012, eit_section(0x0400, 0, 2, second, 45, {0x4B, 0x5C}));
    const std::string source = write_source(writer.bytes);
    const ProgramRun detail = run_quilvaren({"-detail", source});
    EXPECT_NE(detail.out.find("2024/01/02 20:30:00\r\n0:45:00\r\n本\r\n"), std::string::npos)
        << detail.out;
    const ProgramRun plain = run_quilvaren({source});
    EXPECT_EQ(plain.out, "\n");
}

TEST_F(DisplayMode, DumpChoosesPacketsByPidTextOrKind)
{
    StreamWriter writer;
    put_program(writer);
    put_caption(writer, kCaptionPid, 900000, kNihon);  // two packets on 0x130
    const size_t lone = writer.bytes.size() / 188;
    put_packet(writer, 0x0013, false, StreamBytes(184, 0xAB));
    put_program(writer);
    const std::string source = write_source(writer.bytes);
    const std::string header =
        "                 +0 +1 +2 +3 +4 +5 +6 +7 +8 +9 +A +B +C +D +E +F\r\n";

    EXPECT_EQ(count_of(run_quilvaren({"-dump", "0x130", source}).out, header), 3u);
    const ProgramRun narrow = run_quilvaren({"-dump", "0x13", source});
    EXPECT_EQ(count_of(narrow.out, header), 1u);
    // The dump of the PID 0x13 packet: its file position labels the first row.
    char row[80];
    std::snprintf(row, sizeof row, "%016zX 47 00 13 1%X AB AB", lone * 188, 0u);
    EXPECT_NE(narrow.out.find(header + row), std::string::npos) << narrow.out;
    EXPECT_EQ(count_of(run_quilvaren({"-dump", "pmt", source}).out, header), 2u);
    EXPECT_EQ(count_of(run_quilvaren({"-dump", "all", source}).out, header), 7u);
}

TEST_F(DisplayMode, WrapAroundPredictionIsShownAndRepeatedAtTheEndOfThePass)
{
    // PCR and PTS wrap about a minute in; the TOT gives the wall-clock time of each prediction.
    const std::string source = testdata_dir() + "/arib-ts/pokemon-2023.wrap.ts";
    const ProgramRun run = run_quilvaren({"-noprogress", "-wraparound", source});
    const std::string line = "PCR Wrap-around ";
    const size_t first = run.out.find(line);
    ASSERT_NE(first, std::string::npos) << run.out.substr(0, 400);
    EXPECT_EQ(run.out.compare(first, line.size() + 21, line + "2023/04/14 18:56:00\r\n"), 0);
    // The report names the source and repeats the prediction that stood last.
    const size_t last = run.out.rfind(line, run.out.rfind("－ " + line) - 1);
    const std::string predicted = run.out.substr(last + line.size(), 21);
    // The report is compared as a whole: "－" is three bytes in UTF-8 but two in CP932.
    const std::string report = "－ " + line + source + "\r\n" + predicted;
    ASSERT_GE(run.out.size(), report.size()) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - report.size()), report);
    const ProgramRun quiet = run_quilvaren({"-noprogress", source});
    EXPECT_EQ(quiet.out.find(line), std::string::npos);
}

/// 2000 packets: tables, a PCR, optionally a TOT, fillers, and a PCR 5.5 s later at packet 500.
StreamBytes progress_stream(bool with_clocks)
{
    StreamWriter writer;
    put_program(writer);
    if (with_clocks) {
        put_pcr(writer, kPcrPid, 900000);
        const int now[6] = {2024, 1, 2, 20, 0, 0};
        put_section(writer, 0x0014, tot_section(now));
    }
    while (writer.bytes.size() / 188 < 2000) {
        if (with_clocks && writer.bytes.size() / 188 == 500) {
            put_pcr(writer, kPcrPid, 900000 + 5 * kTicks + kTicks / 2);
        } else {
            put_packet(writer, kVideoPid, false, StreamBytes(184, 0x55));
        }
    }
    return writer.bytes;
}

TEST_F(DisplayMode, ProgressLineShowsPercentClockTotAndOffset)
{
    // The 1001st packet (offset 188000) is half way through 2000 packets.
    ProgramRun run = run_quilvaren({write_source(progress_stream(true), "clocks.ts")});
    EXPECT_EQ(run.out, "－ 50 % , PCR 0:00:05.500 , TOT 2024/01/02 20:00:00 , +0x2DE60\r\n");
    run = run_quilvaren({write_source(progress_stream(false), "bare.ts")});
    EXPECT_EQ(run.out, "－ 50 % , PCR 0:00:00.000 , +0x2DE60\r\n");
    run = run_quilvaren({"-noprogress", dir_ + "clocks.ts"});
    EXPECT_EQ(run.out, "\n") << "exit " << run.exit_code << ", " << run.err;
}

TEST_F(DisplayMode, DropLinesAndTheEndOfPassReport)
{
    StreamWriter writer;
    put_program(writer);
    put_pcr(writer, kPcrPid, 900000);
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // counter 0
    put_pcr(writer, kPcrPid, 990000);
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 1
    writer.counters[kVideoPid] = 3;
    const size_t first_drop = writer.bytes.size() / 188;
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 3: one lost
    writer.counters[kVideoPid] = 5;
    const size_t second_drop = writer.bytes.size() / 188;
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 5: one lost
    const std::string source = write_source(writer.bytes);

    const ProgramRun run = run_quilvaren({"-drop", source});
    const std::string expected =
        "DROP : PID 0x0100 , 1 Drop , PCR 0:00:01.000 , +0x" + hex(first_drop * 188) + " \r\n" +
        "DROP : PID 0x0100 , 2 Drop , PCR 0:00:01.000 , +0x" + hex(second_drop * 188) + " \r\n" +
        "\n" + "－ DROP " + source + "\r\n" +
        "0x0000 : 0x00 : 0 Drop : 1 Total \r\n"
        "0x01F0 : 0x00 : 0 Drop : 1 Total \r\n"
        "0x01FF : 0x00 : 0 Drop : 0 Total 対象外\r\n"
        "0x0100 : 0x05 : 2 Drops : 4 Total \r\n"
        "\r\n";
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace qv::test
