// Through mode end to end: the copy, timed-packet input, drops and their count, -duration ranges
// and standard output.
#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/stream_fixture.h"

namespace qv::test {
namespace {

/// PAT, PMT, PCR, video and a caption each second.
StreamBytes make_stream(int seconds)
{
    StreamWriter writer;
    for (int k = 0; k < seconds; ++k) {
        const uint64_t pcr = 900000 + static_cast<uint64_t>(k) * kTicks;
        put_program(writer);
        put_pcr(writer, kPcrPid, pcr);
        put_pes(writer, kVideoPid, 0xE0, pcr + 9000, std::nullopt, StreamBytes(100, 0x11));
        put_packet(writer, kVideoPid, false, StreamBytes(184, 0x22));
        put_caption(writer, kCaptionPid, pcr + 9000, kNihon);
    }
    return writer.bytes;
}

class ThroughMode : public ScratchStreamTest {
protected:
    ThroughMode() : ScratchStreamTest("through") {}
    ProgramRun run_through(const std::string& source, std::vector<std::string> more = {})
    {
        std::vector<std::string> arguments = {"-mode", "through", "-throughpath", dir_ + "out.ts"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        arguments.push_back(source);
        return run_quilvaren(arguments);
    }
};

TEST_F(ThroughMode, CleanStreamIsCopiedPacketForPacket)
{
    const StreamBytes bytes = make_stream(5);
    ProgramRun run = run_through(write_source(bytes), {"-noprogress"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(file_bytes(dir_ + "out.ts"), bytes);

    // Timed 192-byte packets come out as plain 188-byte packets.
    StreamBytes timed;
    for (size_t i = 0; i < bytes.size(); i += 188) {
        append(timed, {0x00, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
        append(timed, StreamBytes(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                                  bytes.begin() + static_cast<std::ptrdiff_t>(i + 188)));
    }
    run = run_through(write_source(timed), {"-noprogress"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(file_bytes(dir_ + "out.ts"), bytes);
}

TEST_F(ThroughMode, EachDropCountsIntoTheResultWithOrWithoutDropLines)
{
    StreamWriter writer;
    put_program(writer);
    put_pcr(writer, kPcrPid, 900000);
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 0
    writer.counters[kVideoPid] = 3;
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 3: lost two
    writer.counters[kVideoPid] = 6;
    put_packet(writer, kVideoPid, false, StreamBytes(184, 1));  // 6: lost two
    const std::string source = write_source(writer.bytes);

    ProgramRun run = run_through(source, {"-noprogress"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(file_bytes(dir_ + "out.ts"), writer.bytes);
    EXPECT_EQ(run.out.find("DROP : PID"), std::string::npos);

    // Through needs no known PCR PID for its drop lines: each one follows its packet.
    run = run_through(source, {"-noprogress", "-drop"});
    EXPECT_EQ(run.exit_code, 2);
    const std::string first = "DROP : PID 0x0100 , 1 Drop , PCR 0:00:00.000 , +0x" ;
    const size_t at = run.out.find(first);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("DROP : PID 0x0100 , 2 Drop , ", at), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("0x0100 : 0x06 : 2 Drops : 3 Total \r\n"), std::string::npos)
        << run.out;

    // With progress lines: each drop line closes the status line before it, and the status
    // lines go on after it, in the order they were printed.
    run = run_through(source, {"-drop"});
    EXPECT_EQ(run.exit_code, 2);
    const std::string around_first =
        "PCR 0:00:00.000 , +0x234\r\r\nDROP : PID 0x0100 , 1 Drop , PCR 0:00:00.000 , +0x2F0 "
        "\r\n";
    EXPECT_NE(run.out.find(around_first), std::string::npos) << run.out;
    const std::string around_second =
        "\r\nDROP : PID 0x0100 , 2 Drop , PCR 0:00:00.000 , +0x3AC \r\n";
    EXPECT_NE(run.out.find(around_second), std::string::npos) << run.out;
}

TEST_F(ThroughMode, DurationWritesOnlyTheRangesAndStopsAfterTheLast)
{
    const StreamBytes bytes = make_stream(20);
    const std::string source = write_source(bytes);
    const std::vector<uint16_t> pids = packet_pids(bytes);
    const size_t per_second = pids.size() / 20;
    // 2..4 s: PAT and PMT of second 2 come before its PCR (clock still at 1 s), so the range
    // starts at the PCR of second 2.
    // (The PCR PID is learnt from the first PMT inside the range, so the still counters of the
    // PCR packets before it count as drops: the exit code is not checked here.)
    (void)run_through(source, {"-noprogress", "-duration", "0:0:2-0:0:4"});
    const StreamBytes out = file_bytes(dir_ + "out.ts");
    const size_t first = 2 * per_second + 2;
    ASSERT_GT(out.size(), 0u);
    EXPECT_EQ(StreamBytes(out.begin(), out.begin() + 188),
              StreamBytes(bytes.begin() + static_cast<std::ptrdiff_t>(first * 188),
                          bytes.begin() + static_cast<std::ptrdiff_t>(first * 188 + 188)));
    // Everything from there up to the PCR of second 4, which reaches the end of the last range:
    // the pump stops there.
    const size_t last = 4 * per_second + 3;
    EXPECT_EQ(out.size() / 188, last - first);
    EXPECT_EQ(out, StreamBytes(bytes.begin() + static_cast<std::ptrdiff_t>(first * 188),
                               bytes.begin() + static_cast<std::ptrdiff_t>(last * 188)));
}

TEST_F(ThroughMode, StandardOutputCarriesTheStreamAndNothingElse)
{
    const StreamBytes bytes = make_stream(3);
    const ProgramRun run = run_quilvaren(
        {"-mode", "through", "-throughpath", "CON", "-drop", write_source(bytes)});
    EXPECT_EQ(run.exit_code, 0);
    ASSERT_GE(run.out.size(), bytes.size());
    EXPECT_EQ(StreamBytes(run.out.begin(),
                          run.out.begin() + static_cast<std::ptrdiff_t>(bytes.size())),
              bytes);
}

TEST_F(ThroughMode, ProgressLineFollowsEveryPacketInOrder)
{
    // Over 2 MiB: several reads from the source, and far more status text than is gathered
    // before a console write.
    StreamWriter writer;
    put_program(writer);
    for (int64_t i = 0; i < 12000; ++i) {
        put_pcr(writer, kPcrPid, 900000 + static_cast<uint64_t>(i) * 2700);
    }
    const ProgramRun run = run_through(write_source(writer.bytes));
    EXPECT_EQ(run.exit_code, 0);
    std::vector<uint64_t> offsets;
    for (size_t at = run.out.find(" , +0x"); at != std::string::npos;
         at = run.out.find(" , +0x", at + 1)) {
        const size_t end = run.out.find('\r', at);
        ASSERT_NE(end, std::string::npos);
        offsets.push_back(std::stoull(run.out.substr(at + 6, end - at - 6), nullptr, 16));
    }
    ASSERT_EQ(offsets.size(), writer.bytes.size() / 188);
    for (size_t i = 0; i < offsets.size(); ++i) {
        ASSERT_EQ(offsets[i], i * 188) << "line " << i;
    }
    const std::string last = run.out.substr(run.out.rfind("PCR "));
    EXPECT_EQ(last.substr(0, last.find(" , ")), "PCR 0:05:59.970");  // 11999 × 30 ms
}

TEST_F(ThroughMode, OutputStaysWhenNothingWasCounted)
{
    const StreamBytes bytes = make_stream(1);
    EXPECT_EQ(run_through(write_source(bytes), {"-noprogress"}).exit_code, 0);
    EXPECT_EQ(file_bytes(dir_ + "out.ts"), bytes);
}

}  // namespace
}  // namespace qv::test
