// The program with its outside components, the stand-in TCP sender library and the stand-in
// tuner driver: every mode's output handed to a sender arrives as it would have been written to
// a file, and the stream modes read a live stream played by the tuner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/stream_fixture.h"
#include "support/file_tuner_setup.h"
#include "support/tcp_listener.h"

namespace qv::test {
namespace {

std::string sender_target(const std::string& destinations, const std::string& library)
{
    return "\\\\.\\sendtstcp\\" + destinations + "\\" + library;
}

std::string loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

class SenderOutput : public ScratchStreamTest {
protected:
    SenderOutput() : ScratchStreamTest("sender") {}

    /// Runs the mode with its output once to a file and once to a sender; true when the sender's
    /// destination received the file's bytes exactly.
    void expect_same_bytes(const std::string& mode, const std::string& output_option,
                           std::vector<std::string> arguments)
    {
        SCOPED_TRACE(mode);
        std::vector<std::string> to_file = {"-mode", mode, output_option, dir_ + "file.ts"};
        to_file.insert(to_file.end(), arguments.begin(), arguments.end());
        (void)run_quilvaren(to_file);
        const StreamBytes expected = file_bytes(dir_ + "file.ts");
        ASSERT_FALSE(expected.empty());

        TcpListener listener;
        ASSERT_TRUE(listener.listening());
        std::vector<std::string> to_sender = {
            "-mode", mode, output_option, sender_target(loopback(listener.port()), QV_SENDER_LIBRARY)};
        to_sender.insert(to_sender.end(), arguments.begin(), arguments.end());
        const ProgramRun run = run_quilvaren(to_sender);
        EXPECT_NE(run.out.find("－ SendTSTCP.dll 開始成功 " + loopback(listener.port()) + "\n"),
                  std::string::npos)
            << run.out;
        EXPECT_NE(run.out.find("－ SendTSTCP.dll 終了"), std::string::npos) << run.out;
        ASSERT_TRUE(listener.wait_for_bytes(expected.size(), 5000));
        ASSERT_TRUE(listener.wait_for_ended(1, 5000));
        EXPECT_TRUE(listener.received() == expected) << "bytes differ from the file's";
    }
};

TEST_F(SenderOutput, EveryModeHandsTheSenderTheBytesItWritesToAFile)
{
    const std::string sample = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    // Without -noprogress: the sender's start and end messages show.
    expect_same_bytes("through", "-throughpath", {sample});
    expect_same_bytes("filter", "-filterpath", {sample});
    expect_same_bytes("extract", "-cappath", {sample});
    (void)run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", dir_ + "cap.ts", sample});
    expect_same_bytes("merge", "-mergepath", {"-cappath", dir_ + "cap.ts", sample});
    const std::string srt = dir_ + "sub.srt";
    const std::string text = "1\r\n00:00:01,000 --> 00:00:02,000\r\n字幕\r\n\r\n";
    ASSERT_TRUE(write_file_bytes(srt, StreamBytes(text.begin(), text.end())));
    expect_same_bytes("convert", "-cappath", {srt});
}

TEST_F(SenderOutput, TwoDestinationsEachGetTheWholeStream)
{
    const std::string sample = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    TcpListener first;
    TcpListener second;
    const std::string target = loopback(first.port()) + "\n" + loopback(second.port());
    (void)run_quilvaren({"-mode", "through", "-noprogress", "-throughpath",
                         sender_target(target, QV_SENDER_LIBRARY), sample});
    const StreamBytes expected = file_bytes(sample);
    ASSERT_TRUE(first.wait_for_bytes(expected.size(), 5000));
    ASSERT_TRUE(second.wait_for_bytes(expected.size(), 5000));
    EXPECT_TRUE(first.received() == expected);
    EXPECT_TRUE(second.received() == expected);
}

TEST_F(SenderOutput, ALibraryWithoutEveryNameSaysFailedAndNothingIsSent)
{
    const std::string sample = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    const std::string target = sender_target("127.0.0.1:9", QV_INCOMPLETE_SENDER);
    const ProgramRun run = run_quilvaren({"-mode", "filter", "-filterpath", target, sample});
    EXPECT_NE(run.out.find("－ SendTSTCP.dll 開始失敗 127.0.0.1:9\n"), std::string::npos) << run.out;
    EXPECT_EQ(run.exit_code, 0);
}

class TunerSource : public ScratchStreamTest {
protected:
    TunerSource() : ScratchStreamTest("tuner") {}

    /// A copy of `library` playing a generated 10 s stream with captions on space 0, channel 13.
    std::string tuner_path(const char* library, const std::string& pace = "x8")
    {
        stream_ = generated_stream(10000, 1000000);
        EXPECT_TRUE(tuners_.write("played.ts", stream_));
        const std::string copy = tuners_.copy_library(library);
        EXPECT_TRUE(tuners_.write_channels(copy, "0 13 played.ts " + pace + "\n"));
        return "\\\\.\\bondriver\\0\\13\\" + copy;
    }

    TunerDirectory tuners_;
    StreamBytes stream_;
};

TEST_F(TunerSource, DisplayShowsThePlayedStreamsCaptionsUntilTheRangeEnds)
{
    const std::string tuner = tuner_path(QV_FILE_TUNER);
    const std::string played = tuners_.file("played.ts");
    // Stream time 0-8 s at eight times the pace: about a second.
    const ProgramRun live = run_quilvaren({"-duration", "8", tuner});
    const ProgramRun file = run_quilvaren({"-noprogress", "-duration", "8", played});
    EXPECT_GT(file.exit_code, 0);
    EXPECT_EQ(live.exit_code, file.exit_code) << live.out;
    EXPECT_NE(live.out.find("－ BonDriverチューナー 開始成功 "), std::string::npos) << live.out;
    const std::string end = "－ BonDriverチューナー 終了 ";
    const size_t at = live.out.find(end);
    EXPECT_NE(at, std::string::npos) << live.out;
    EXPECT_EQ(live.out.find(end, at + 1), std::string::npos) << live.out;
}

/// True when `written` is whole packets of `played` in their order, from its first packet on:
/// the played stream with at most some packets left out.
bool is_ordered_selection_from_start(const StreamBytes& written, const StreamBytes& played)
{
    constexpr size_t kPacket = 188;
    if (written.size() % kPacket != 0 || written.size() < kPacket ||
        !std::equal(written.begin(), written.begin() + kPacket, played.begin())) {
        return false;
    }
    size_t from = 0;
    for (size_t at = 0; at < written.size(); at += kPacket) {
        while (from + kPacket <= played.size() &&
               !std::equal(written.begin() + static_cast<ptrdiff_t>(at),
                           written.begin() + static_cast<ptrdiff_t>(at + kPacket),
                           played.begin() + static_cast<ptrdiff_t>(from))) {
            from += kPacket;
        }
        if (from + kPacket > played.size()) {
            return false;
        }
        from += kPacket;
    }
    return true;
}

TEST_F(TunerSource, ThroughWritesWhatWasReceived)
{
    // The program receives the played stream from its start until the range ends and writes
    // it as received. A hand-out of the driver that finds the queue not yet emptied is
    // discarded (a live source does not wait), so on a busy machine whole hand-outs may be
    // missing; nothing else may differ.
    const std::string tuner = tuner_path(QV_FILE_TUNER);
    (void)run_quilvaren(
        {"-mode", "through", "-noprogress", "-duration", "3", "-throughpath", dir_ + "live.ts", tuner});
    const StreamBytes received = file_bytes(dir_ + "live.ts");
    ASSERT_GT(received.size(), 188u * 100);
    ASSERT_LE(received.size(), stream_.size());
    EXPECT_TRUE(is_ordered_selection_from_start(received, stream_));
}

TEST_F(TunerSource, ADriverThatCannotDeliverEndsThePassAtOnce)
{
    struct Case {
        const char* name;
        std::string library;
        std::string channels;
        const char* outcome;
    };
    const Case cases[] = {
        {"IBonDriver only", QV_FILE_TUNER_BASIC, "0 13 played.ts fast\n", "成功"},
        {"unknown channel", QV_FILE_TUNER, "0 14 played.ts fast\n", "成功"},
        {"no CreateBonDriver", QV_SENDER_LIBRARY, "", "失敗"},
    };
    (void)tuners_.write("played.ts", generated_stream(2000, 1000000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string copy = tuners_.copy_library(c.library);
        if (!c.channels.empty()) {
            ASSERT_TRUE(tuners_.write_channels(copy, c.channels));
        }
        const ProgramRun run = run_quilvaren({"\\\\.\\bondriver\\0\\13\\" + copy});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_NE(run.out.find(std::string("－ BonDriverチューナー 開始") + c.outcome + " " + copy),
                  std::string::npos)
            << run.out;
    }
}

TEST_F(TunerSource, PlugInPathsChangeNothing)
{
    const std::string sample = write_source(file_bytes(source_dir() + "/samples/sample.ts"));
    const ProgramRun plain = run_quilvaren({"-mode", "extract", "-cappath", dir_ + "a.ts", sample});
    const ProgramRun with = run_quilvaren(
        {"-tvtppath", QV_FILE_TUNER, "-mode", "extract", "-cappath", dir_ + "b.ts", sample});
    EXPECT_EQ(with.exit_code, plain.exit_code);
    EXPECT_EQ(file_bytes(dir_ + "a.ts"), file_bytes(dir_ + "b.ts"));
    EXPECT_EQ(with.out.find("tvtp"), std::string::npos);
}

}  // namespace
}  // namespace qv::test
