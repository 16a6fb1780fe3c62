// Run setup end to end: default names, source checks, the log rule, tuner and TCP target
// checks, and outputs that must not destroy their own input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

#include "e2e/stream_fixture.h"
#include "platform/console.h"
#include "platform/environment.h"

namespace qv::test {
namespace {

StreamBytes caption_stream()
{
    StreamWriter writer;
    put_program(writer);
    for (int k = 0; k < 3; ++k) {
        put_pcr(writer, kPcrPid, 900000 + static_cast<uint64_t>(k) * kTicks);
        put_caption(writer, kCaptionPid, 900000 + static_cast<uint64_t>(k) * kTicks, kNihon);
    }
    return writer.bytes;  // 6 caption packets
}

class RunPass : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = make_scratch_directory("pass");
        source_ = dir_ + "rec.ts";
        bytes_ = caption_stream();
        ASSERT_TRUE(write_file_bytes(source_, bytes_));
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    bool exists(const std::string& name) { return std::ifstream(dir_ + name).good(); }
    std::string dir_;
    std::string source_;
    StreamBytes bytes_;
};

TEST_F(RunPass, ExtractNamesCaptionTsAndLogBesideTheSource)
{
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-log", "-drop", source_});
    EXPECT_EQ(run.exit_code, 6);
    EXPECT_TRUE(exists("rec.quilvaren.ts"));
    const std::vector<uint8_t> log = read_whole_file(dir_ + "rec.quilvaren.log");
    const std::string log_text(log.begin(), log.end());
    EXPECT_EQ(log_text.rfind("－ DROP " + source_ + "\r\n", 0), 0u) << log_text;
}

TEST_F(RunPass, LogPathNamingATransportStreamSwitchesLoggingOff)
{
    const std::string other = dir_ + "other.ts";
    ASSERT_TRUE(write_file_bytes(other, bytes_));
    const ProgramRun run = run_quilvaren({"-logpath", other, "-noprogress", source_});
    EXPECT_EQ(run.out.rfind("－ ログファイルにtsファイルが指定されているためログ出力を無効にしました " +
                                other + "\n",
                            0),
              0u)
        << run.out;
    EXPECT_EQ(file_bytes(other), bytes_);
    EXPECT_EQ(run.exit_code, 1);  // the pass still runs: one caption text
}

TEST_F(RunPass, RefusedSourcesCountNothingAndTheOthersStillRun)
{
    const std::string text_file = dir_ + "notes.txt";
    std::ofstream(text_file) << std::string(500, 'x');
    const ProgramRun run = run_quilvaren(
        {"-mode", "extract", "-noprogress", dir_ + "missing.ts", text_file, source_});
    EXPECT_EQ(run.exit_code, 6);
    EXPECT_EQ(run.out.find("－ ファイルがありません " + dir_ + "missing.ts\n"), 0u) << run.out;
    EXPECT_NE(run.out.find("－ tsファイルではありません " + text_file + "\n"), std::string::npos);
    EXPECT_TRUE(exists("rec.quilvaren.ts"));
    EXPECT_FALSE(exists("missing.quilvaren.ts"));
}

/// Other names of `dir + name` that the file system resolves to the same file: through "." and
/// through ".." and the directory's own name, and on Windows (where '\\' separates too) in
/// other letter case, with a ".\\" step and with '/' for every '\\'.
std::vector<std::string> other_spellings(const std::string& dir, const std::string& name)
{
    const char separator = dir.back();
    size_t leaf = dir.size() - 1;
    while (leaf > 0 && !platform::is_path_separator(dir[leaf - 1])) {
        --leaf;
    }
    const std::string back_in = dir + ".." + separator + dir.substr(leaf);
    std::vector<std::string> spellings = {dir + "./" + name, back_in + name};
    if (platform::is_path_separator('\\')) {
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        std::string slashed = dir + name;
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        spellings.insert(spellings.end(), {dir + upper, dir + ".\\" + upper, slashed});
    }
    return spellings;
}

TEST_F(RunPass, OutputThatIsTheSourceIsRefusedWhateverItsSpelling)
{
    const std::string refused = "－ 出力ファイルが入力ファイルと同じです ";
    std::vector<std::string> outputs = other_spellings(dir_, "rec.ts");
    outputs.insert(outputs.begin(), source_);
    for (const std::string& output : outputs) {
        const ProgramRun run =
            run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", output, source_});
        EXPECT_EQ(run.exit_code, 0) << output;
        EXPECT_NE(run.out.find(refused + output + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(file_bytes(source_), bytes_) << output;
    }
    // A relative name, from the source's own directory.
    const ProgramRun relative =
        run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", "rec.ts", source_}, dir_);
    EXPECT_EQ(relative.exit_code, 0);
    EXPECT_NE(relative.out.find(refused + "rec.ts\n"), std::string::npos) << relative.out;
    EXPECT_EQ(file_bytes(source_), bytes_);
    // The log as output is refused too, and leaves the log alone.
    const StreamBytes kept = {'k', 'e', 'p', 't', '\n'};
    ASSERT_TRUE(write_file_bytes(dir_ + "run.log", kept));
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-logpath",
                                          dir_ + "run.log", "-cappath", dir_ + "run.log", source_});
    EXPECT_EQ(run.exit_code, 0);
    const StreamBytes log = file_bytes(dir_ + "run.log");
    ASSERT_GE(log.size(), kept.size());
    EXPECT_EQ(StreamBytes(log.begin(), log.begin() + 5), kept) << "the log was rewritten";
}

TEST_F(RunPass, TunerAndSenderTargetsAreCheckedPartByPart)
{
    const std::string library = dir_ + "libsender.so";
    std::ofstream(library) << "x";
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::string tuner = "\\\\.\\bondriver\\";
    const std::string sender = "\\\\.\\sendtstcp\\";
    const Case cases[] = {
        {{tuner + "\\1\\" + library}, "－ BonDriverチューナー空間番号がありません "},
        {{tuner + "0\\\\" + library}, "－ BonDriverチューナー内部チャンネル番号がありません "},
        {{tuner + "0\\1\\" + dir_ + "none.so"}, "－ BonDriverがありません "},
        {{"-mode", "through", "-throughpath", sender + ":1234\\" + library, source_},
         "－ SendTSTCP送信先がありません "},
        {{"-mode", "through", "-throughpath", sender + "host\\" + library, source_},
         "－ SendTSTCP送信先ポートがありません "},
        {{"-mode", "through", "-throughpath", sender + "host:1234\\" + dir_ + "none.so", source_},
         "－ SendTSTCP.dllがありません "},
        // Every other mode's output is checked for its host and port.
        {{"-mode", "extract", "-cappath", sender + ":1234", source_},
         "－ SendTSTCP送信先がありません "},
        {{"-mode", "filter", "-filterpath", sender + "127.0.0.1\\" + library, source_},
         "－ SendTSTCP送信先ポートがありません "},
        {{"-mode", "merge", "-cappath", source_, "-mergepath", sender + "127.0.0.1:", source_},
         "－ SendTSTCP送信先ポートがありません "},
    };
    for (const Case& c : cases) {
        const ProgramRun run = run_quilvaren(c.arguments);
        EXPECT_EQ(run.out.rfind(c.message, 0), 0u) << run.out;
        EXPECT_EQ(run.exit_code, 0);
    }
}

TEST_F(RunPass, EachSourceGetsTheOutputsNamedAfterItself)
{
    // A second source must not overwrite (or delete) the first one's output.
    StreamWriter writer;
    put_program(writer);
    put_pcr(writer, kPcrPid, 900000);
    put_caption(writer, kCaptionPid, 900000, kHonjitsu);
    const std::string second = dir_ + "two.ts";
    ASSERT_TRUE(write_file_bytes(second, writer.bytes));
    struct Case {
        const char* mode;
        const char* suffix;
    };
    for (const Case& c : {Case{"extract", ".quilvaren.ts"}, Case{"filter", ".quilvarenFilter.ts"},
                          Case{"through", ".quilvarenThrough.ts"}}) {
        SCOPED_TRACE(c.mode);
        (void)run_quilvaren({"-mode", c.mode, "-noprogress", source_});
        const StreamBytes alone_first = file_bytes(dir_ + "rec" + c.suffix);
        (void)run_quilvaren({"-mode", c.mode, "-noprogress", second});
        const StreamBytes alone_second = file_bytes(dir_ + "two" + c.suffix);
        ASSERT_FALSE(alone_first.empty());
        ASSERT_FALSE(alone_second.empty());
        std::filesystem::remove(dir_ + "rec" + c.suffix);
        std::filesystem::remove(dir_ + "two" + c.suffix);

        (void)run_quilvaren({"-mode", c.mode, "-noprogress", source_, second});
        EXPECT_EQ(file_bytes(dir_ + "rec" + c.suffix), alone_first);
        EXPECT_EQ(file_bytes(dir_ + "two" + c.suffix), alone_second);
    }
}

TEST_F(RunPass, AFileWhoseNameBeginsWithConIsAFileNotTheConsole)
{
    ASSERT_TRUE(write_file_bytes(dir_ + "CONCERT.ts", bytes_));
    const ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "CONCERT.ts"}, dir_);
    EXPECT_EQ(run.exit_code, 6);
    EXPECT_FALSE(file_bytes(dir_ + "CONCERT.quilvaren.ts").empty());
}

TEST_F(RunPass, OutputsAndSourcesThatCannotBeOpenedSaySo)
{
    const std::string output = dir_ + "missing" + std::string(1, platform::path_separator()) + "cap.ts";
    ProgramRun run = run_quilvaren({"-mode", "extract", "-noprogress", "-cappath", output, source_});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find("－ 出力ファイルが作成できません " + output + "\n"), std::string::npos)
        << run.out;

    const std::string pipe =
        "\\\\.\\pipe\\qv_no_such_pipe_" + std::to_string(platform::process_id());
    run = run_quilvaren({"-mode", "through", "-noprogress", "-throughpath", dir_ + "out.ts", pipe});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_NE(run.out.find("－ 入力ファイルが開けません " + pipe + "\n"), std::string::npos)
        << run.out;
}

TEST_F(RunPass, AStreamOnStandardOutputKeepsEveryConsoleLineOffIt)
{
    // The process-ID line comes before the stream and a later pass's check message after it:
    // both go to standard error, the stream alone to standard output.
    const ProgramRun run = run_quilvaren({"-pid", "-detail", "-mode", "through", "-throughpath",
                                          "CON", source_, dir_ + "missing.ts"});
    EXPECT_EQ(StreamBytes(run.out.begin(), run.out.end()), bytes_);
    EXPECT_NE(run.err.find("－ プロセスID "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("－ ファイルがありません " + dir_ + "missing.ts\n"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("－ 終了します. ( 戻り値 : 0 )\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qv::test
