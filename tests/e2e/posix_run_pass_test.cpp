// Run setup end to end with what only POSIX offers: a second name of the same file, and a
// device that refuses every write.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "e2e/stream_fixture.h"
#include "platform/environment.h"

namespace qv::test {
namespace {

StreamBytes small_caption_stream()
{
    StreamWriter writer;
    put_program(writer);
    put_pcr(writer, kPcrPid, 900000);
    put_caption(writer, kCaptionPid, 900000, kNihon);
    return writer.bytes;
}

TEST(PosixRunPass, OutputNamingTheSourceThroughAHardLinkIsRefused)
{
    const std::string dir = make_scratch_directory("posixpass");
    const StreamBytes bytes = small_caption_stream();
    ASSERT_TRUE(write_file_bytes(dir + "rec.ts", bytes));
    ASSERT_EQ(::link((dir + "rec.ts").c_str(), (dir + "hard.ts").c_str()), 0);
    const ProgramRun run = run_quilvaren(
        {"-mode", "extract", "-noprogress", "-cappath", dir + "hard.ts", dir + "rec.ts"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find(dir + "hard.ts"), std::string::npos) << run.out;
    EXPECT_EQ(file_bytes(dir + "rec.ts"), bytes);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(PosixRunPass, FailedWritesAreReportedOnceAndNoDeviceIsDeleted)
{
    const std::string dir = make_scratch_directory("posixpass");
    ASSERT_TRUE(write_file_bytes(dir + "rec.ts", small_caption_stream()));
    const ProgramRun run =
        run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", "/dev/full", dir + "rec.ts"});
    const std::string message = "－ 出力ファイルに書き込めません /dev/full\n";
    const size_t at = run.out.find(message);
    EXPECT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(message, at + 1), std::string::npos);
    EXPECT_TRUE(std::ifstream("/dev/full").good());
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(PosixRunPass, CopyingModesReportAFailedWriteOnceAndEndThePass)
{
    // Several MiB, so the output is written on its writer thread in many chunks.
    StreamWriter writer;
    put_program(writer);
    for (int64_t i = 0; i < 40000; ++i) {
        put_pcr(writer, kPcrPid, 900000 + i * 2700);
    }
    const std::string dir = make_scratch_directory("posixpass");
    ASSERT_TRUE(write_file_bytes(dir + "rec.ts", writer.bytes));
    const std::string message = "－ 出力ファイルに書き込めません /dev/full\n";
    ASSERT_TRUE(write_file_bytes(dir + "cap.ts", small_caption_stream()));
    for (const std::string mode : {"through", "filter", "merge"}) {
        const ProgramRun run = run_quilvaren({"-mode", mode, "-noprogress", "-cappath",
                                              dir + "cap.ts", "-" + mode + "path", "/dev/full",
                                              dir + "rec.ts"});
        const size_t at = run.out.find(message);
        EXPECT_NE(at, std::string::npos) << mode << ": " << run.out;
        EXPECT_EQ(run.out.find(message, at + 1), std::string::npos) << mode << ": " << run.out;
    }
    EXPECT_TRUE(std::ifstream("/dev/full").good());
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(PosixRunPass, AConversionWhoseOutputFailsSaysSoOnceAndStops)
{
    const std::string dir = make_scratch_directory("posixpass");
    std::string srt;
    for (int i = 0; i < 3000; ++i) {  // far more than one write buffer of packets
        const int s = i + 1;
        char time[64];
        std::snprintf(time, sizeof time, "%02d:%02d:%02d,000 --> %02d:%02d:%02d,500", s / 3600,
                      s / 60 % 60, s % 60, s / 3600, s / 60 % 60, s % 60);
        srt += std::to_string(i + 1) + "\r\n" + time + "\r\nABC\r\n\r\n";
    }
    ASSERT_TRUE(write_file_bytes(dir + "sub.srt", StreamBytes(srt.begin(), srt.end())));
    const ProgramRun run =
        run_quilvaren({"-mode", "convert", "-cappath", "/dev/full", dir + "sub.srt"});
    const std::string message = "－ 出力ファイルに書き込めません /dev/full\n";
    const size_t at = run.out.find(message);
    EXPECT_NE(at, std::string::npos) << run.out.substr(0, 500);
    EXPECT_EQ(run.out.find(message, at + 1), std::string::npos);
    // It stops there: no entry is reported after the failure.
    EXPECT_EQ(run.out.find("CONVERT : ", at), std::string::npos);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST(PosixRunPass, AFailedReadEndsThePassWithAMessage)
{
    // The program's own memory, read from offset 0, opens but fails every read (EIO): that is
    // not the end of the input, which would end the pass without a word.
    if (::access("/proc/self/mem", R_OK) != 0) {
        GTEST_SKIP() << "no /proc/self/mem";
    }
    const std::string name = "qv_read_error_" + std::to_string(::getpid());
    const std::string link = platform::temp_directory() + name;
    ASSERT_EQ(::symlink("/proc/self/mem", link.c_str()), 0);
    const std::string source = "\\\\.\\pipe\\" + name;
    const ProgramRun run = run_quilvaren({"-noprogress", source});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find("－ 入力ファイルから読み込めません " + source + "\n"),
              std::string::npos)
        << run.out;
    ::unlink(link.c_str());
}

TEST(PosixRunPass, AConversionFromAFifoIsRefusedWithoutOpeningIt)
{
    // Opening a FIFO for reading would wait for a writer that never comes.
    const std::string dir = make_scratch_directory("posixpass");
    const std::string fifo = dir + "sub.srt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const ProgramRun run =
        run_quilvaren({"-mode", "convert", "-cappath", dir + "out.ts", fifo});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find("－ 字幕ファイルが認識できません " + fifo + "\n"), std::string::npos)
        << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir + "out.ts"));
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace
}  // namespace qv::test
